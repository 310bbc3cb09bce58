#!/usr/bin/env bash
# The programs of examples/, built with CMake against the installed tree, do what they say
# against the emulator: list a folder, upload with progress, download resuming after a broken
# connection, list folders asynchronously, copy and stop following the copy.
# usage: examples.sh BUILD-DIR SOURCE-DIR
source "$(dirname "$0")/lib.sh"
build=$1 source=$2
prefix=$work/prefix
install_tree "$build" "$prefix"
cmake -S "$source/examples" -B "$work/examples" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_FLAGS="$consumer_flags" >"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "configure"; }
cmake --build "$work/examples" -j 2 >>"$work/build.log" 2>&1 || { cat "$work/build.log"; fail "build"; }
bin=$work/examples

device=$work/device
mkdir -p "$device/Public/album" "$device/Backup" "$work/local"
printf 'one\n' >"$device/Public/a.txt"
head -c 3000000 /dev/urandom >"$device/Public/big.bin"
head -c 4000000 /dev/urandom >"$device/Public/album/video.bin"
head -c 300000 /dev/urandom >"$work/local/photo.jpg"
# The first transfer to pass 1 MB is cut off there; copies run at 1 MB/s, so that they can be
# followed and stopped.
start_emulator "$build/emulator/vesk-emulator" "$device" --drop-after 1000000 --drop-count 1 \
  --job-rate 1000000

expect_output "settings" "vesk-emulator: port $port, SSL port 0" "$bin/settings" "$port"
expect_output "list_folder (share roots)" $'d            0  Backup\nd            0  Public' \
  "$bin/list_folder" "$port"
expect_output "list_folder /Public" \
  "$(printf -- '- %12d  a.txt\nd %12d  album\n- %12d  big.bin' 4 0 3000000)" \
  "$bin/list_folder" "$port" /Public

# Below the cut-off: whole at the first attempt, with progress up to the file's size.
"$bin/upload_progress" "$port" "$work/local/photo.jpg" /Backup >"$work/upload.out" 2>"$work/upload.err" ||
  fail "upload_progress: $(cat "$work/upload.err")"
cmp -s "$work/local/photo.jpg" "$device/Backup/photo.jpg" || fail "the uploaded file differs"
grep -q "300000 of 300000 bytes (100%)" "$work/upload.err" || fail "upload progress: $(cat "$work/upload.err")"

# Cut off after 1 MB, then resumed from the local file's size.
"$bin/download_resume" "$port" /Public/big.bin "$work/local/big.bin" >"$work/download.out" \
  2>"$work/download.err" || fail "download_resume: $(cat "$work/download.err")"
cmp -s "$device/Public/big.bin" "$work/local/big.bin" || fail "the downloaded file differs"
grep -q "^resuming at byte [1-9]" "$work/download.err" || fail "no resume: $(cat "$work/download.err")"

expect_output "async_list" "$(printf '/Public: 3 entries\n  a.txt\n  album/\n  big.bin\n/Backup: 1 entries\n  photo.jpg')" \
  "$bin/async_list" "$port" /Public /Backup

# 4 MB at 1 MB/s: the copy is still running when it passes 1%.
"$bin/copy_cancel" "$port" /Public/album /Backup 1 >"$work/copy.out" 2>"$work/copy.err" ||
  fail "copy_cancel: $(cat "$work/copy.err")"
grep -q "^stopped following the copy at [0-9]*%$" "$work/copy.out" || fail "copy_cancel: $(cat "$work/copy.out")"
# A copy followed to its end.
"$bin/copy_cancel" "$port" /Public/a.txt /Backup >"$work/copy.out" 2>"$work/copy.err" ||
  fail "copy_cancel: $(cat "$work/copy.err")"
expect_output "copy" "copied /Public/a.txt into /Backup" cat "$work/copy.out"
cmp -s "$device/Public/a.txt" "$device/Backup/a.txt" || fail "the copied file differs"
echo "examples: ok"
