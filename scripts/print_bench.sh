#!/usr/bin/env bash
# A print bench of our own for the tests: a private cupsd with three
# printers, which Wine's winspool reaches through CUPS_SERVER.
#   KorvelaPDF      the default; cups-pdf writes each job as a PDF
#   KorvelaPhoto    our own PPD (US Letter by default, A4, 4x6, margins),
#                   also printing to a PDF, with a comment
#   KorvelaRejects  a queue that refuses every job
#   scripts/print_bench.sh start DIR   starts it; writes DIR/env to source
#   scripts/print_bench.sh stop DIR    stops what start started
set -euo pipefail
command=$1
dir=$2
root=$(cd "$(dirname "$0")/.." && pwd)

if [[ $command == stop ]]; then
  if [[ -f "$dir/cupsd.pid" ]]; then
    pid=$(cat "$dir/cupsd.pid")
    kill "$pid" 2> /dev/null || true
    for _ in $(seq 1 50); do
      kill -0 "$pid" 2> /dev/null || break
      sleep 0.1
    done
  fi
  [[ -f "$dir/tag" ]] && rm -f "/etc/cups/cups-pdf-$(cat "$dir/tag").conf"
  exit 0
fi

mkdir -p "$dir"/{root,spool,cache,state,log,tmp,pdf}
# cupsd's filters run as lp and must reach the spool: the folder that holds
# the bench (a private temporary folder of the caller's) is opened for passing
# through, not for listing.
chmod o+x "$(dirname "$dir")"
chmod 1777 "$dir/tmp" "$dir/pdf"
chmod 755 "$dir" "$dir"/{root,spool,cache,state,log}
tag="korvela$$"
echo "$tag" > "$dir/tag"
cat > "$dir/root/cupsd.conf" <<CONF
Listen $dir/cups.sock
Browsing Off
DefaultAuthType None
LogLevel warn
WebInterface No
<Location />
  Order allow,deny
  Allow all
</Location>
<Location /admin>
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
cat > "$dir/root/cups-files.conf" <<CONF
ServerRoot $dir/root
RequestRoot $dir/spool
CacheDir $dir/cache
StateDir $dir/state
TempDir $dir/tmp
ErrorLog $dir/log/error_log
AccessLog $dir/log/access_log
PageLog $dir/log/page_log
ServerBin /usr/lib/cups
DataDir /usr/share/cups
User lp
Group lp
SystemGroup root
FileDevice Yes
CONF
# cups-pdf finds its settings by the tag of the device address.
cat > "/etc/cups/cups-pdf-$tag.conf" <<CONF
Out $dir/pdf
AnonDirName $dir/pdf
Grp root
Label 2
CONF

/usr/sbin/cupsd -c "$dir/root/cupsd.conf" -s "$dir/root/cups-files.conf" -f \
  > "$dir/log/cupsd.out" 2>&1 &
echo $! > "$dir/cupsd.pid"
export CUPS_SERVER="$dir/cups.sock"
# lpstat -r exits 0 whether or not the scheduler answers; only its words tell.
ready=no
for _ in $(seq 1 100); do
  if [[ $(LC_ALL=C lpstat -r 2> /dev/null) == "scheduler is running" ]]; then
    ready=yes
    break
  fi
  sleep 0.1
done
if [[ $ready != yes ]]; then
  echo "print bench: cupsd did not start; its output:" >&2
  cat "$dir/log/cupsd.out" >&2
  exit 1
fi
lpadmin -p KorvelaPDF -E -v "cups-pdf:/$tag" -P /usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd \
  -D "Korvela test PDF printer" 2> /dev/null
lpadmin -p KorvelaPhoto -E -v "cups-pdf:/$tag" -P "$root/tests/print/korvela-photo.ppd" \
  -D "Photo printer with margins" 2> /dev/null
lpadmin -p KorvelaRejects -E -v file:///dev/null -P "$root/tests/print/korvela-photo.ppd" \
  -D "Refuses every job" 2> /dev/null
cupsreject KorvelaRejects
lpadmin -d KorvelaPDF
cat > "$dir/env" <<ENV
export CUPS_SERVER=$dir/cups.sock
export KORVELA_PRINT_PDF_DIR=$dir/pdf
unset PRINTER LPDEST
ENV
