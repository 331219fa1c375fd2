"""Places in the source tree that the modules run or read."""

import os

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", "..", ".."))
WINE_PREFIX_SCRIPT = os.path.join(ROOT, "scripts", "wine-prefix.sh")
MOCK_API_PROGRAM = os.path.join(ROOT, "tests", "tools", "mockapi", "mockapi.py")
BROWSER_EXTENSION = os.path.join(ROOT, "tests", "e2e", "browser", "extension")
