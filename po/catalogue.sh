#!/usr/bin/env bash
# The catalogues of chronelle-shift's messages, against its sources.
#   po/catalogue.sh update   the template made again from cli/ and merged into
#                            every po/*.po (then translate what is new or fuzzy)
#   po/catalogue.sh check    fails on a message of the sources that a catalogue
#                            lacks or has untranslated or fuzzy, on a message a
#                            catalogue has that the sources no longer say, and
#                            on a translation whose format does not match
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d "${TMPDIR:-/tmp}/chronelle-po-XXXXXX")
trap 'rm -rf "$work"' EXIT

xgettext --language=C++ --from-code=UTF-8 --keyword=_ --keyword=N_ --add-comments=TRANSLATORS: \
  --package-name=chronelle --msgid-bugs-address=chronelle@example.org \
  -o "$work/chronelle.pot" cli/*.cpp

case "${1:-}" in
update)
  for po in po/*.po; do
    msgmerge --quiet --update --backup=none --add-location=file "$po" "$work/chronelle.pot"
  done
  ;;
check)
  failed=0
  for po in po/*.po; do
    # msgfmt counts the translated messages, and names the others.
    stats=$(msgfmt --check --statistics -o /dev/null "$po" 2>&1 || true)
    problems=$(
      grep -v '^[0-9]* translated messages\.$' <<<"$stats" || true
      msgcmp "$po" "$work/chronelle.pot" 2>&1 || true
      msgcmp --use-untranslated "$work/chronelle.pot" "$po" 2>&1 || true
      msgattrib --only-obsolete "$po" | grep '^#~ msgid' | sed 's/^/no longer in the sources: /' || true
    )
    if [ -n "$problems" ]; then
      echo "$po:"
      echo "$problems"
      failed=1
    fi
  done
  [ "$failed" = 0 ] && echo "every catalogue complete and up to date: $(ls po/*.po | tr '\n' ' ')"
  exit "$failed"
  ;;
*)
  echo "usage: po/catalogue.sh update|check" >&2
  exit 2
  ;;
esac
