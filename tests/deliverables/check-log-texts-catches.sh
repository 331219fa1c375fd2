#!/usr/bin/env bash
# check-log-texts.sh must fail on each kind of breach: each is planted in a scratch copy of the
# sources, and the check must name the file it was planted in.
# Usage: check-log-texts-catches.sh SOURCE_ROOT
set -u
root=${1:?usage: check-log-texts-catches.sh SOURCE_ROOT}
check="$root/tests/deliverables/check-log-texts.sh"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

status=0
# plant NAME FILE TEXT: appends TEXT to FILE (below the copy) and expects the check to fail on FILE;
# with no TEXT, FILE is removed instead.
plant() {
  local name=$1 file=$2
  rm -rf "$scratch/copy" && mkdir "$scratch/copy" && cp -r "$root/src" "$root/tests" "$scratch/copy/"
  if [ $# -lt 3 ]; then
    rm "$scratch/copy/$file"
  else
    mkdir -p "$(dirname "$scratch/copy/$file")"
    printf '%s\n' "$3" >>"$scratch/copy/$file"
  fi
  local output
  output=$("$check" "$scratch/copy")
  local result=$?
  if [ $result -ne 1 ] || ! grep -q "^FAIL $file" <<<"$output"; then
    echo "MISSED $name (exit $result):"
    echo "$output"
    status=1
  else
    echo "caught $name: $(grep "^FAIL $file" <<<"$output" | head -1)"
  fi
}

plant "a log call taking a removed constant" src/controlService/pipe/CommandsServer.cpp \
  'void planted() { Logger::instance().write(PipeLog::ServerCreated); }'
plant "a removed namespace declared again" src/controlService/update/UpdateWords.h \
  'namespace UpdateLog { constexpr const char* Start = "Start "; }'
plant "an HTTP server log call taking a removed constant" src/controlService/http/LocalHttpServer.cpp \
  'void planted() { LOG_ERROR << HttpLog::ProcessRequests; }'
plant "the reply handlers' log texts declared again" src/controlService/api/ApiResults.h \
  'namespace ApiReplyLog { constexpr const char* Login = "Response from user login request"; }'
plant "a test taking a removed host text" tests/nativeMsgHost/MessagesTest.cpp \
  'static const char* const planted = HostTexts::Send;'
plant "a test taking a removed constant" tests/controlService/ConfigSectionTest.cpp \
  'static const char* const planted = SettingsLog::Saved;'
plant "a new namespace of log texts" src/controlService/vpn/DaemonWords.h \
  'namespace DaemonLog { constexpr const char* Launched = "Launched"; }'
plant "a using-namespace pull" src/controlService/vpn/ConnectionChecker.cpp \
  'using namespace Management;'
plant "a texts header that is no contract header" src/controlService/pipe/PipeLogTexts.h \
  '#pragma once'
plant "a listed contract header that is gone" src/controlService/http/HttpReplies.h

# And the sources as they stand pass.
if ! "$check" "$root" >/dev/null; then
  echo "FAIL the unchanged sources do not pass"
  status=1
fi
exit $status
