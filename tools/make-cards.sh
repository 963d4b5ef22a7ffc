#!/usr/bin/env bash
# Draws business-card pictures for the scan-reading tests and benchmarks, with the texts they
# carry, into OUTDIR:
#   OUTDIR/<card>.png|jpg   the pictures
#   OUTDIR/truth.tsv        one row per picture: file, name, organisation, department, position
# Cards: Japanese horizontal and vertical layouts and a Latin one, at several sizes; "photo-*"
# cards are turned slightly, blurred and noisy and saved as JPEG, like a phone photo of a card
# on a table. Needs ImageMagick and fonts-noto-cjk.
#
#   tools/make-cards.sh OUTDIR [quick]
# "quick" draws one card of each layout at a small size and a small photo (for the unit tests).
set -euo pipefail
out=${1:?usage: make-cards.sh OUTDIR [quick]}
mode=${2:-all}
# The photos' noise is drawn from a fixed seed, so that every run reads the same pictures
# (TAVRONA_NOISE_SEED draws other ones).
noise_seed=${TAVRONA_NOISE_SEED:-1}
font=/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc
bold=/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc
[ -r "$font" ] && [ -r "$bold" ] || { echo "missing $font (fonts-noto-cjk)" >&2; exit 1; }
command -v convert >/dev/null || { echo "missing convert (imagemagick)" >&2; exit 1; }
mkdir -p "$out"
truth="$out/truth.tsv"
: >"$truth"

# horizontal FILE WIDTH ORG DEPT POSITION NAME TEL MAIL
# A card 91 x 55 mm drawn WIDTH pixels wide: organisation top left, department and position
# above a large name, contact lines at the bottom.
horizontal() {
    local file=$1 w=$2 org=$3 dept=$4 pos=$5 name=$6 tel=$7 mail=$8
    local h=$((w * 55 / 91)) u
    u=$(awk "BEGIN{print $w/1075}")
    local p; p() { awk "BEGIN{printf \"%d\", $1*$u}"; }
    convert -size "${w}x${h}" xc:white -fill black \
        -font "$bold" -pointsize "$(p 42)" -annotate "+$(p 70)+$(p 110)" "$org" \
        -font "$font" -pointsize "$(p 30)" -annotate "+$(p 70)+$(p 220)" "$dept" \
        -pointsize "$(p 30)" -annotate "+$(p 70)+$(p 270)" "$pos" \
        -font "$bold" -pointsize "$(p 80)" -annotate "+$(p 70)+$(p 400)" "$name" \
        -font "$font" -pointsize "$(p 26)" -annotate "+$(p 70)+$(p 530)" "$tel" \
        -pointsize "$(p 26)" -annotate "+$(p 70)+$(p 580)" "$mail" \
        -strip "$out/$file"
    printf '%s\t%s\t%s\t%s\t%s\n' "$file" "$name" "$org" "$dept" "$pos" >>"$truth"
}

# One character a row, for vertical columns.
stacked() { printf '%s' "$1" | sed 's/./&\n/g; s/\n$//'; }

# vertical FILE WIDTH ORG POSITION NAME
# A card 55 x 91 mm standing upright, written top to bottom in columns from the right:
# organisation, position, then a large name.
vertical() {
    local file=$1 w=$2 org=$3 pos=$4 name=$5
    local h=$((w * 91 / 55)) u
    u=$(awk "BEGIN{print $w/650}")
    local p; p() { awk "BEGIN{printf \"%d\", $1*$u}"; }
    convert -size "${w}x${h}" xc:white -fill black \
        -font "$bold" -pointsize "$(p 40)" -interline-spacing "$(p -8)" \
        -annotate "+$(p 520)+$(p 120)" "$(stacked "$org")" \
        -font "$font" -pointsize "$(p 32)" -interline-spacing "$(p -4)" \
        -annotate "+$(p 400)+$(p 200)" "$(stacked "$pos")" \
        -font "$bold" -pointsize "$(p 80)" -interline-spacing "$(p -16)" \
        -annotate "+$(p 200)+$(p 260)" "$(stacked "$name")" \
        -strip "$out/$file"
    printf '%s\t%s\t%s\t%s\t%s\n' "$file" "${name// /}" "$org" "" "$pos" >>"$truth"
}

# photo SOURCE FILE DEGREES [SIZE]: the card on a grey table, turned, softened and noisy, as a
# JPEG of SIZE (4000x3000 unless given).
photo() {
    local src=$1 file=$2 deg=$3 size=${4:-4000x3000}
    convert "$out/$src" -bordercolor '#8a8478' -border 8% -background '#8a8478' -rotate "$deg" \
        -resize "$size" -gravity center -extent "$size" -blur 0x1.2 \
        -seed "$noise_seed" -attenuate 0.6 +noise Gaussian -quality 88 "$out/$file"
    # The truth row is the source card's.
    awk -F'\t' -v s="$src" -v f="$file" 'BEGIN{OFS="\t"} $1==s {$1=f; print}' "$truth" >>"$truth.tmp"
    cat "$truth.tmp" >>"$truth" && rm -f "$truth.tmp"
}

horizontal jp-h-1.png 1075 "株式会社青葉商事" "営業部" "課長" "佐藤 健一" \
    "TEL 03-3123-4567" "sato@aoba-shoji.example.jp"
horizontal en-h-1.png 1075 "Northwind Trading Co., Ltd." "Sales Department" "Sales Manager" \
    "Emily Carter" "Tel +81-3-5555-0142" "emily.carter@northwind.example.com"
vertical jp-v-1.png 650 "有限会社山本製作所" "代表取締役" "山本 一郎"
if [ "$mode" = quick ]; then
    photo jp-h-1.png photo-jp-h-1.jpg -2 1600x1200
    exit 0
fi
horizontal jp-h-2.png 2150 "東都電機工業株式会社" "技術開発本部 設計課" "主任技師" "高橋 美咲" \
    "電話 045-987-6543" "https://www.toto-denki.example.jp"
horizontal jp-h-3.png 800 "株式会社みなと物流" "経理課" "部長" "中村 和也" \
    "TEL 06-6200-1188" "nakamura@minato.example.co.jp"
horizontal en-h-2.png 1600 "Blue Harbor Systems Inc." "Research and Development" "Director" \
    "Daniel Morgan" "Phone 415-555-0198" "www.blueharbor.example.com"
vertical jp-v-2.png 1300 "株式会社北斗設計" "設計部長" "小林 誠"
horizontal jp-h-4.png 4000 "株式会社森田建設" "総務部 人事課" "課長代理" "森田 翔太" \
    "TEL 011-222-3344" "morita@morita-kensetsu.example.jp"
photo jp-h-1.png photo-jp-h-1.jpg 2.5
photo en-h-1.png photo-en-h-1.jpg -1.5
