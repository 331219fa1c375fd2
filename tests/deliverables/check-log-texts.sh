#!/usr/bin/env bash
# A log line is written whole where it is logged; headers keep only the texts that code and tests
# share (wire texts, reply bodies, file names, the daemon's command line, the version).
# Usage: check-log-texts.sh SOURCE_ROOT (the folder that holds src/ and tests/).
#
# Fails when
# - anything in src/ or tests/ names one of the log-text namespaces that are gone (a constant
#   taken from one, a `using namespace` of one, or the namespace declared again);
# - src/ declares a namespace of log texts (a name ending in "Log");
# - src/ pulls a namespace in with `using namespace`, other than std and boost ones;
# - src/ holds a *Texts.h header that is not one of the contract headers below, or one of those
#   headers is gone.
set -u
root=${1:?usage: check-log-texts.sh SOURCE_ROOT}
cd "$root" || exit 2
[ -d src ] && [ -d tests ] || { echo "FAIL $root holds no src/ and tests/"; exit 2; }

removed_namespaces='ServiceLog|ControllerLog|PipeLog|SettingsLog|UpdateLog|ApiLog|ApiReplyLog|HttpLog|HostTexts'
contract_headers='src/controlService/vpn/ControllerTexts.h
src/controlService/api/ApiWire.h
src/controlService/api/ApiResults.h
src/controlService/http/HttpReplies.h
src/nativeMsgHost/NativeMessageTable.h'

status=0
fail() {
  echo "FAIL $1"
  status=1
}
sources() {
  find "$@" -type f \( -name '*.h' -o -name '*.cpp' \) | sort
}

while IFS= read -r hit; do
  fail "$hit: names a log-text namespace that is gone; write the text at the log call"
done < <(sources src tests | xargs grep -nE "\\b($removed_namespaces)\\b" /dev/null)

while IFS= read -r hit; do
  fail "$hit: a namespace of log texts; write each text at its log call"
done < <(sources src | xargs grep -nE '^\s*namespace\s+\w+Log\b' /dev/null)

while IFS= read -r hit; do
  fail "$hit: pulls a namespace in; name what is used where it is used"
done < <(sources src | xargs grep -nE '^\s*using\s+namespace\s' /dev/null | grep -vE 'using\s+namespace\s+(std|boost)\b')

while IFS= read -r header; do
  grep -qxF "$header" <<<"$contract_headers" || fail "$header: a texts header that is no contract header"
done < <(find src -type f -name '*Texts.h' | sort)

while IFS= read -r header; do
  [ -f "$header" ] || fail "$header: a contract header that is gone; list the one that holds its texts"
done <<<"$contract_headers"

[ $status -eq 0 ] && echo "ok: log lines are written at their log calls; texts headers: $(echo $contract_headers)"
exit $status
