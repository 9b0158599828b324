#!/usr/bin/env bash
# Regenerates po/dravlen-client.pot from the translatable texts of the sources
# and merges it into every catalogue named in po/LINGUAS, so that new texts
# show up there untranslated and changed ones as fuzzy.
set -euo pipefail
cd "$(dirname "$0")/.."
# The version is set in one place, the project() line of CMakeLists.txt.
version=$(sed -n 's/^project(dravlen-client VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
find gui device image engine -name '*.cpp' 2>/dev/null | LC_ALL=C sort > po/POTFILES
xgettext --language=C++ --from-code=UTF-8 --keyword=_ --keyword=N_ \
  --add-comments=TRANSLATORS: --package-name=dravlen-client --package-version="$version" \
  --files-from=po/POTFILES --output=po/dravlen-client.pot
rm -f po/POTFILES
echo "po/dravlen-client.pot: $(grep -c '^msgid ' po/dravlen-client.pot) messages"
while read -r lang; do
  case $lang in ''|'#'*) continue ;; esac
  msgmerge --quiet --update --backup=none po/"$lang".po po/dravlen-client.pot
  printf 'po/%s.po: ' "$lang"
  msgfmt --check --statistics -o /dev/null po/"$lang".po
done < po/LINGUAS
