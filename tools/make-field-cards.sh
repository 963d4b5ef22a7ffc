#!/usr/bin/env bash
# Draws a wide set of business cards for measuring what the reading suggests for each box, into
# OUTDIR:
#   OUTDIR/<card>.png|jpg   the pictures
#   OUTDIR/truth.tsv        one row per picture: file, part, name, reading, organisation,
#                           department, position, telephone, e-mail
# Four typefaces (gothic and mincho); six layouts: plain (furigana above the name when the person
# has one; the department and position on one line for some people), two columns, a logo block
# beside the organisation, a dark band with white text, an English card and a vertical card;
# six ways of taking the picture: 300 dpi, 150 dpi, turned 2 to 5 degrees, JPEG of quality 60,
# in perspective, and photographed on a desk (the card smaller, on a darker textured background,
# with a shadow, noise and a slant). Each person gets every layout once, the typeface and the way
# of taking the picture turning with the person. "part" is "tune" for the people the reading was
# tried on (the first six and the last ten) and "held" for the others, which are only measured.
# The desk photos' noise is drawn from fixed seeds, so every run draws the same pictures. Needs
# ImageMagick, fonts-noto-cjk and fonts-ipafont-gothic/-mincho.
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

# One letter a line, for the columns of a vertical card.
# The long-vowel sign stands upright in a column.
column() { printf '%s' "$1" | sed 's/ //g; s/ー/｜/g; s/./&\n/g; s/\n$//'; }

# card FILE PART FONT LAYOUT VARIANT NAME READING ORG DEPT POS TEL MAIL
# POS starting with "+" puts the department and the position on one line.
card() {
    local file=$1 part=$2 font=$3 layout=$4 variant=$5 name=$6 reading=$7 org=$8 dept=$9 pos=${10}
    local tel=${11} mail=${12}
    local w=1075 h
    [ "$variant" = dpi150 ] && w=540
    h=$((w * 55 / 91))
    local u
    u=$(awk "BEGIN{print $w/1075}")
    local p; p() { awk "BEGIN{printf \"%d\", $1*$u}"; }
    local oneline=0
    if [ "${pos:0:1}" = "+" ]; then pos=${pos:1}; oneline=1; fi
    local args=() size="${w}x${h}" ink=black
    # The department and position under the organisation, from x, y.
    deptpos() {
        if [ $oneline = 1 ]; then
            args+=(-pointsize "$(p 30)" -annotate "+$(p "$1")+$(p "$2")" "$dept　$pos")
        else
            args+=(-pointsize "$(p 30)" -annotate "+$(p "$1")+$(p "$2")" "$dept"
                -pointsize "$(p 30)" -annotate "+$(p "$1")+$(p $(($2 + 50)))" "$pos")
        fi
    }
    namelines() {  # the reading small above the large name, from x, y of the name
        [ -n "$reading" ] && args+=(-pointsize "$(p 24)" -annotate "+$(p $(($1 + 10)))+$(p $(($2 - 100)))" "$reading")
        args+=(-pointsize "$(p 76)" -annotate "+$(p "$1")+$(p "$2")" "$name")
    }
    # The point size (scaled) at which TEXT fits in WIDTH (unscaled), SIZE at most: a long
    # address is set smaller, as a designer would, rather than run off the card.
    fitted() {
        local size=$2 width
        width=$(convert -font "$font" -pointsize "$(p "$size")" label:"$1" -format '%w' info:)
        while [ "$width" -gt "$(p "$3")" ] && [ "$size" -gt 12 ]; do
            size=$((size - 1))
            width=$(convert -font "$font" -pointsize "$(p "$size")" label:"$1" -format '%w' info:)
        done
        p "$size"
    }
    contact() {  # telephone and e-mail from x, y
        args+=(-pointsize "$(p 26)" -annotate "+$(p "$1")+$(p "$2")" "$tel"
            -pointsize "$(p 26)" -annotate "+$(p "$1")+$(p $(($2 + 50)))" "$mail")
    }
    case $layout in
        plain | english)
            args+=(-pointsize "$(p 40)" -annotate "+$(p 70)+$(p 100)" "$org")
            deptpos 70 170
            namelines 70 400
            contact 70 520 ;;
        logo)
            args+=(-fill '#1d4f91' -draw "roundrectangle $(p 60),$(p 40) $(p 180),$(p 160) $(p 14),$(p 14)"
                -fill white -pointsize "$(p 56)" -annotate "+$(p 78)+$(p 122)" "${org:0:1}" -fill black
                -pointsize "$(p 40)" -annotate "+$(p 210)+$(p 115)" "$org")
            deptpos 210 190
            namelines 210 410
            contact 210 520 ;;
        band)
            args+=(-fill '#203050' -draw "rectangle 0,0 $w,$(p 150)"
                -fill white -pointsize "$(p 40)" -annotate "+$(p 70)+$(p 95)" "$org" -fill black)
            deptpos 70 215
            namelines 70 420
            contact 70 530 ;;
        twocolumn)
            # The left column's lines stand level with the right column's address lines.
            args+=(-pointsize "$(p 40)" -annotate "+$(p 60)+$(p 100)" "$org")
            deptpos 60 170
            namelines 60 400
            args+=(-pointsize "$(p 22)" -annotate "+$(p 620)+$(p 100)" "〒100-0005"
                -pointsize "$(p 22)" -annotate "+$(p 620)+$(p 145)" "東京都千代田区丸の内1-2-3"
                -pointsize "$(p 22)" -annotate "+$(p 620)+$(p 380)" "$tel"
                -pointsize "$(fitted "$mail" 22 420)" -annotate "+$(p 620)+$(p 425)" "$mail") ;;
        vertical)
            # A card standing upright: columns from the right, the contact lines across at the foot.
            size="${h}x${w}"
            name=${name// /}
            # The IPA faces have tight lines already; the Noto faces loose ones.
            local gap="-$(p 8)"
            case $font in *ipa*) gap="$(p 6)" ;; esac
            args+=(-interline-spacing "$gap"
                -pointsize "$(p 38)" -annotate "+$(p 545)+$(p 80)" "$(column "$org")"
                -pointsize "$(p 30)" -annotate "+$(p 470)+$(p 120)" "$(column "$dept")"
                -pointsize "$(p 30)" -annotate "+$(p 420)+$(p 120)" "$(column "$pos")"
                -pointsize "$(p 70)" -annotate "+$(p 280)+$(p 160)" "$(column "$name")"
                -interline-spacing 0
                -pointsize "$(p 22)" -annotate "+$(p 40)+$(p 960)" "$tel"
                -pointsize "$(p 22)" -annotate "+$(p 40)+$(p 1000)" "$mail")
            reading= ;;
    esac
    local base=(-size "$size" xc:white -font "$font" -fill "$ink" "${args[@]}")
    local deg=$((2 + ${#file} % 4))
    [ $((${#name} % 2)) = 0 ] && deg=-$deg
    case $variant in
        turned) convert "${base[@]}" -background white -rotate "$deg" -strip "$out/$file" ;;
        jpeg60) convert "${base[@]}" -quality 60 "$out/$file" ;;
        perspective)
            local cw ch
            read -r cw ch <<<"$(convert "${base[@]}" -format '%w %h' info:)"
            convert "${base[@]}" -virtual-pixel white -distort Perspective \
                "0,0 $((cw * 4 / 100)),$((ch * 3 / 100))  $cw,0 $((cw - cw * 1 / 100)),0  0,$ch 0,$ch  $cw,$ch $((cw - cw * 5 / 100)),$((ch - ch * 4 / 100))" \
                -strip "$out/$file" ;;
        desk)
            # The card at 60-70 % of a 1600 x 1200 photo of a brown desk, slanted and shadowed.
            local cw ch
            read -r cw ch <<<"$(convert "${base[@]}" -format '%w %h' info:)"
            local W=1600 H=1200
            convert -seed ${#file} \( -size ${W}x${H} xc:'#6b5540' -attenuate 0.6 +noise Multiplicative -blur 0x1.5 \) \
                \( "${base[@]}" -bordercolor none -border 1 -alpha set -virtual-pixel transparent \
                -distort Perspective "0,0 $((cw * 3 / 100)),$((ch * 5 / 100))  $cw,0 $((cw - cw * 2 / 100)),0  0,$ch 0,$ch  $cw,$ch $((cw - cw * 4 / 100)),$((ch - ch * 2 / 100))" \
                -background none -rotate "$deg" -resize "$((W * 68 / 100))x$((H * 75 / 100))" \
                \( +clone -background black -shadow 55x10+14+14 \) +swap -background none -layers merge +repage \) \
                -gravity center -geometry +20+10 -composite -attenuate 0.4 +noise Gaussian -quality 85 \
                "$out/$file" ;;
        *) convert "${base[@]}" -strip "$out/$file" ;;
    esac
    printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$file" "$part" "$name" "$reading" "$org" "$dept" \
        "$pos" "$tel" "$mail" >>"$truth"
}

# part|name|reading|organisation|department|position (+ for one line)|telephone|e-mail|
#   English name|organisation|department|position
people=(
    "tune|佐藤 健一|さとう けんいち|株式会社青葉商事|営業部|課長|TEL 03-3123-4567|k.sato@aoba-shoji.example.jp|Kenichi Sato|Aoba Trading Co., Ltd.|Sales Department|Manager"
    "tune|佐々木 健一||北進物産株式会社|総務課|+室長|TEL 011-222-3344|kenichi.sasaki@hokushin.example.co.jp|Kenichi Sasaki|Hokushin Bussan Inc.|General Affairs Division|Director"
    "tune|やまだ はなこ||有限会社山本製作所|第一営業部|+部長|TEL 06-6543-2109|hanako.yamada@yamamoto.example.jp|Hanako Yamada|Yamamoto Works Ltd.|Sales Department|General Manager"
    "tune|林 稔|はやし みのる|東都電機工業株式会社|技術部|主任|TEL 045-123-9876|m.hayashi@toto-denki.example.com|Minoru Hayashi|Toto Electric Corporation|Engineering Department|Chief Engineer"
    "tune|長谷川 健太郎|はせがわ けんたろう|株式会社みなと物流|経理部|+次長|TEL 078-333-1212|kentaro.hasegawa@minato.example.jp|Kentaro Hasegawa|Minato Logistics Inc.|Accounting Department|Deputy Manager"
    "tune|西園寺 小百合|さいおんじ さゆり|株式会社白鷺ホールディングス|広報室|室長|TEL 03-6789-0123|sayuri.saionji@shirasagi.example.jp|Sayuri Saionji|Shirasagi Holdings Inc.|Public Relations Office|Director"
    "held|木村 恵理子|きむら えりこ|株式会社東和システム|人事部|+部長|TEL 03-5555-0142|eriko.kimura@towa-sys.example.jp|Eriko Kimura|Towa Systems Co., Ltd.|Human Resources Department|General Manager"
    "held|高橋 美咲||株式会社緑川建設|設計課|係長|TEL 052-987-6543|misaki.takahashi@midorikawa.example.co.jp|Misaki Takahashi|Midorikawa Construction Inc.|Design Section|Supervisor"
    "held|スズキ ジロウ||合同会社青空食品|販売部|+課長|TEL 092-111-2233|jiro.suzuki@aozora.example.jp|Jiro Suzuki|Aozora Foods LLC|Sales Department|Manager"
    "held|中村 翔|なかむら しょう|株式会社三光電子|開発部|主任|TEL 022-444-5566|sho.nakamura@sanko.example.com|Sho Nakamura|Sanko Electronics Corporation|Development Department|Chief Engineer"
    "held|小林 さくら||株式会社朝日印刷|営業部|+部長|TEL 075-666-7788|sakura.kobayashi@asahi-print.example.jp|Sakura Kobayashi|Asahi Printing Co., Ltd.|Sales Department|General Manager"
    "held|松本 由美子|まつもと ゆみこ|有限会社松風工房|企画室|主査|TEL 099-210-3344|yumiko.matsumoto@matsukaze.example.jp|Yumiko Matsumoto|Matsukaze Studio Ltd.|Planning Office|Officer"
    "tune|タナカ ユウキ||株式会社港南テクノ|営業部|+課長|TEL 03-4567-8901|yuki.tanaka@konan-techno.example.jp|Yuki Tanaka|Konan Techno Inc.|Sales Department|Manager"
    "tune|森 愛|もり あい|有限会社森田商店|総務部|部長|TEL 048-222-1111|ai.mori@morita-shoten.example.jp|Ai Mori|Morita Shoten Ltd.|General Affairs Department|General Manager"
    "tune|石井 大輔|いしい だいすけ|合同会社北斗ソフト|開発課|+係長|TEL 011-765-4321|daisuke.ishii@hokuto-soft.example.com|Daisuke Ishii|Hokuto Soft LLC|Development Section|Supervisor"
    "tune|藤原 千尋||株式会社大和精機|品質管理部|主任|TEL 06-1357-2468|chihiro.fujiwara@yamato-seiki.example.co.jp|Chihiro Fujiwara|Yamato Seiki Co., Ltd.|Quality Control Department|Chief Engineer"
    "tune|渡辺 翼|わたなべ つばさ|株式会社光洋通商|海外事業部|+課長|TEL 03-3987-6543|tsubasa.watanabe@koyo-tsusho.example.jp|Tsubasa Watanabe|Koyo Trading Corporation|Overseas Business Division|Manager"
    "tune|伊藤 さとみ||株式会社若葉出版|編集部|副編集長|TEL 03-5210-7788|satomi.ito@wakaba-pub.example.co.jp|Satomi Ito|Wakaba Publishing Co., Ltd.|Editorial Department|Deputy Editor"
    "tune|井上 雄一郎|いのうえ ゆういちろう|東邦化学株式会社|研究開発部|+主任|TEL 0564-22-3141|yuichiro.inoue@toho-chem.example.com|Yuichiro Inoue|Toho Chemical Corporation|Research and Development|Chief Researcher"
    "tune|サイトウ ミキ||合同会社星野デザイン|制作部|部長|TEL 092-735-1100|miki.saito@hoshino-design.example.jp|Miki Saito|Hoshino Design LLC|Production Department|General Manager"
    "tune|吉田 航|よしだ わたる|株式会社瀬戸内海運|業務課|係長|TEL 082-248-5566|wataru.yoshida@setouchi-kaiun.example.jp|Wataru Yoshida|Setouchi Shipping Co., Ltd.|Operations Section|Supervisor"
    "tune|山口 千代子|やまぐち ちよこ|有限会社山口屋|経営企画室|+室長|TEL 0259-27-4040|chiyoko.yamaguchi@yamaguchiya.example.jp|Chiyoko Yamaguchi|Yamaguchiya Ltd.|Corporate Planning Office|Director"
)
layouts=(plain twocolumn logo band english vertical)
variants=(dpi300 dpi150 turned jpeg60 perspective desk)
i=0
for row in "${people[@]}"; do
    IFS='|' read -r part name reading org dept pos tel mail ename eorg edept epos <<<"$row"
    for l in 0 1 2 3 4 5; do
        layout=${layouts[$l]}
        v=${variants[$(((i + l) % 6))]}
        f=$(((i + l) % 4))
        ext=png
        case $v in jpeg60 | desk) ext=jpg ;; esac
        file="$part-$i-$layout-$v.$ext"
        if [ "$layout" = english ]; then
            card "$file" "$part" "${fonts[$f]}" "$layout" "$v" "$ename" "" "$eorg" "$edept" "$epos" "$tel" "$mail"
        else
            card "$file" "$part" "${fonts[$f]}" "$layout" "$v" "$name" "$reading" "$org" "$dept" "$pos" "$tel" "$mail"
        fi
    done
    i=$((i + 1))
done
