#!/usr/bin/env bash
# Draws a wider set of business cards for measuring what the reading suggests for each box, into
# OUTDIR:
#   OUTDIR/<card>.png|jpg   the pictures
#   OUTDIR/truth.tsv        one row per picture: file, part, name, reading, organisation,
#                           department, position, telephone, e-mail
# Four typefaces (gothic and mincho), names of two to six letters in kanji and kana, furigana
# above the name on some cards, a department and position on one line on others, e-mail
# addresses with dots; each card at 300 dpi, at 150 dpi, turned 2 degrees, or as JPEG of quality
# 60. "part" is "tune" for the people the rules were tried on and "held" for the others, which
# are only measured. Needs ImageMagick, fonts-noto-cjk and fonts-ipafont-gothic/-mincho.
#
#   tools/make-field-cards.sh OUTDIR
set -euo pipefail
out=${1:?usage: make-field-cards.sh OUTDIR}
fonts=(/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc
    /usr/share/fonts/opentype/noto/NotoSerifCJK-Regular.ttc
    /usr/share/fonts/opentype/ipafont-gothic/ipag.ttf
    /usr/share/fonts/opentype/ipafont-mincho/ipam.ttf)
for f in "${fonts[@]}"; do [ -r "$f" ] || { echo "missing $f" >&2; exit 1; }; done
command -v convert >/dev/null || { echo "missing convert (imagemagick)" >&2; exit 1; }
mkdir -p "$out"
truth="$out/truth.tsv"
: >"$truth"

# card FILE PART FONT VARIANT NAME READING ORG DEPT POS TEL MAIL
# Organisation at the top; the department and position on one line when POS starts with "+",
# else on two; the reading (when given) small above the large name; contact lines at the bottom.
card() {
    local file=$1 part=$2 font=$3 variant=$4 name=$5 reading=$6 org=$7 dept=$8 pos=$9 tel=${10} mail=${11}
    local w=1075
    [ "$variant" = dpi150 ] && w=540
    local h=$((w * 55 / 91)) u
    u=$(awk "BEGIN{print $w/1075}")
    local p; p() { awk "BEGIN{printf \"%d\", $1*$u}"; }
    local args=(-font "$font" -pointsize "$(p 40)" -annotate "+$(p 70)+$(p 100)" "$org")
    if [ "${pos:0:1}" = "+" ]; then
        pos=${pos:1}
        args+=(-pointsize "$(p 30)" -annotate "+$(p 70)+$(p 190)" "$dept　$pos")
    else
        args+=(-pointsize "$(p 30)" -annotate "+$(p 70)+$(p 170)" "$dept"
            -pointsize "$(p 30)" -annotate "+$(p 70)+$(p 220)" "$pos")
    fi
    [ -n "$reading" ] && args+=(-pointsize "$(p 24)" -annotate "+$(p 80)+$(p 300)" "$reading")
    args+=(-pointsize "$(p 76)" -annotate "+$(p 70)+$(p 400)" "$name"
        -pointsize "$(p 26)" -annotate "+$(p 70)+$(p 520)" "$tel"
        -pointsize "$(p 26)" -annotate "+$(p 70)+$(p 570)" "$mail")
    case $variant in
        turned) convert -size "${w}x${h}" xc:white -fill black "${args[@]}" -background white \
            -rotate 2 -strip "$out/$file" ;;
        jpeg60) convert -size "${w}x${h}" xc:white -fill black "${args[@]}" -quality 60 "$out/$file" ;;
        *) convert -size "${w}x${h}" xc:white -fill black "${args[@]}" -strip "$out/$file" ;;
    esac
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$file" "$part" "$name" "$reading" "$org" "$dept" \
        "$pos" "$tel" "$mail" >>"$truth"
}

# part|name|reading|organisation|department|position (+ for one line)|telephone|e-mail
people=(
    "tune|佐藤 健一|さとう けんいち|株式会社青葉商事|営業部|課長|TEL 03-3123-4567|k.sato@aoba-shoji.example.jp"
    "tune|佐々木 健一||北進物産株式会社|総務課|+室長|TEL 011-222-3344|kenichi.sasaki@hokushin.example.co.jp"
    "tune|やまだ はなこ||有限会社山本製作所|第一営業部|+部長|TEL 06-6543-2109|hanako.yamada@yamamoto.example.jp"
    "tune|林 稔|はやし みのる|東都電機工業株式会社|技術部|主任|TEL 045-123-9876|m.hayashi@toto-denki.example.com"
    "tune|長谷川 健太郎|はせがわ けんたろう|株式会社みなと物流|経理部|+次長|TEL 078-333-1212|kentaro.hasegawa@minato.example.jp"
    "held|木村 恵理子|きむら えりこ|株式会社東和システム|人事部|+部長|TEL 03-5555-0142|eriko.kimura@towa-sys.example.jp"
    "held|高橋 美咲||株式会社緑川建設|設計課|係長|TEL 052-987-6543|misaki.takahashi@midorikawa.example.co.jp"
    "held|スズキ ジロウ||合同会社青空食品|販売部|+課長|TEL 092-111-2233|jiro.suzuki@aozora.example.jp"
    "held|中村 翔|なかむら しょう|株式会社三光電子|開発部|主任|TEL 022-444-5566|sho.nakamura@sanko.example.com"
    "held|小林 さくら||株式会社朝日印刷|営業部|+部長|TEL 075-666-7788|sakura.kobayashi@asahi-print.example.jp"
)
variants=(dpi300 dpi150 turned jpeg60)
i=0
for row in "${people[@]}"; do
    IFS='|' read -r part name reading org dept pos tel mail <<<"$row"
    for f in 0 1 2 3; do
        # Each person in every typeface, the variant turning with the person.
        v=${variants[$(((i + f) % 4))]}
        ext=png; [ "$v" = jpeg60 ] && ext=jpg
        card "$part-$i-$f-$v.$ext" "$part" "${fonts[$f]}" "$v" "$name" "$reading" "$org" "$dept" "$pos" "$tel" "$mail"
    done
    i=$((i + 1))
done
