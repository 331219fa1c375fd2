"""What the programs on the Linux side share: the tests that reach the service from outside, the
main job (scripts/mainjob/main_job.py) and the benchmarks (bench/bench.py).

A program puts this package's parent folder first on sys.path, with one line worked out from its
own place, and imports nimbal.<module>; no module here changes sys.path. The mock vendor API's
server is a program of its own, in tests/tools/mockapi.
"""
