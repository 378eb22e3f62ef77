#!/usr/bin/env bash
# Which files touch the operating system: only platform/src and the files named for the OS
# (*_linux.cpp) may include the POSIX and Linux headers or call the OS directly; everything
# else goes through platform/. Lists every other line that does and fails when there is one.
# The C++ standard library (fstream, filesystem, thread, chrono) is not an OS call.
# scripts/check-os-calls.sh [--count]   (--count prints the number of offending lines only)
set -euo pipefail
cd "$(dirname "$0")/.."

# Program code only: tests, benchmarks and fuzz targets drive the OS to set up their worlds.
allowed='^(platform/src/|tests/|bench/|fuzz/)|_linux\.cpp$'

headers='(unistd|fcntl|termios|poll|signal|pthread|dirent|dlfcn|pwd|grp|netdb|spawn)\.h|(sys|arpa|netinet|net|linux)/[a-z_/]+\.h'
calls='getenv|secure_getenv|setenv|unsetenv|open|openat|close|read|write|pread|pwrite|fsync|fdatasync|rename|renameat|unlink|stat|lstat|fstat|fchmod|chmod|mkdir|rmdir|mkstemp|mkdtemp|ioctl|tcgetattr|tcsetattr|tcflush|tcdrain|cfsetispeed|cfsetospeed|socket|socketpair|poll|ppoll|epoll_[a-z_]+|eventfd|signal|sigaction|sigprocmask|pthread_[a-z_]+|getuid|geteuid|getpid|kill|readlink|symlink|dlopen|dlsym|dlclose|dladdr|sysconf|isatty|posix_openpt|grantpt|unlockpt|ptsname'
# A call is the bare or ::-qualified name followed by "(", not a member (".x(" or "->x(")
# and not another namespace's function ("std::filesystem::rename(").
pattern="#[[:space:]]*include[[:space:]]*<(${headers})>|(^|[^A-Za-z0-9_.:>]|[^A-Za-z0-9_]::|std::)(${calls})[[:space:]]*\\("

mapfile -t files < <(git ls-files --cached --others --exclude-standard '*.cpp' '*.h' '*.hpp' '*.cc' '*.c' | grep -Ev "$allowed" || true)
hits=$( ((${#files[@]})) && grep -nE "$pattern" "${files[@]}" | grep -vE '^[^:]+:[0-9]+:[[:space:]]*//' || true)

if [ "${1:-}" = "--count" ]; then
  [ -z "$hits" ] && echo 0 || printf '%s\n' "$hits" | wc -l
  exit 0
fi
if [ -n "$hits" ]; then
  echo "OS calls outside platform/src and *_linux.cpp (route them through platform/):"
  printf '%s\n' "$hits"
  exit 1
fi
echo "OS calls: only in platform/src and *_linux.cpp"
