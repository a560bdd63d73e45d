// Deterministic prose of the languages the legacy encodings serve, about
// 1 MiB each as UTF-8: common words of the language drawn at random (the same
// draw every run), joined by the language's spaces and punctuation, a line every
// dozen words or so. bench/compare names each corpus after its language.
#ifndef VELTA_BENCH_PROSE_H
#define VELTA_BENCH_PROSE_H

#include <random>
#include <string>
#include <vector>

namespace velta_bench {

struct Language {
    const char* name;
    const char* separator;  // between words ("" for scripts written without spaces)
    const char* comma;
    const char* stop;
    std::vector<const char*> words;
};

// Vietnamese is written with its tone marks as combining characters, the
// form windows-1258 holds.
inline const std::vector<Language>& languages() {
    static const std::vector<Language> all = {
        {"japanese", "", "、", "。", {"私",   "は",       "日本語",       "の",    "文章", "を",
                                      "書き", "ます",     "今日",         "天気",  "が",   "とても",
                                      "良い", "です",     "東京",         "で",    "友達", "と",
                                      "会い", "ました",   "新しい",       "本",    "読む", "ことが",
                                      "好き", "カタカナ", "コンピュータ", "変換",  "文字", "電車",
                                      "に",   "乗って",   "学校",         "へ",    "行く", "時間",
                                      "山",   "川",       "花",           "美しい"}},
        {"chinese-simplified", "", "，", "。", {"我们",   "今天",   "的",   "学习",   "中文",
                                                "很",     "有意思", "这个", "问题",   "需要",
                                                "解决",   "北京",   "上海", "经济",   "发展",
                                                "人民",   "生活",   "水平", "提高",   "了",
                                                "计算机", "字符",   "编码", "转换",   "时间",
                                                "朋友",   "一起",   "去",   "图书馆", "看书",
                                                "天气",   "非常",   "好"}},
        {"chinese-traditional", "", "，", "。", {"我們",   "今天", "的",   "學習", "中文",   "很",
                                                 "有意思", "這個", "問題", "需要", "解決",   "臺北",
                                                 "香港",   "經濟", "發展", "人民", "生活",   "水準",
                                                 "提高",   "了",   "電腦", "字元", "編碼",   "轉換",
                                                 "時間",   "朋友", "一起", "去",   "圖書館", "看書",
                                                 "天氣",   "非常", "好"}},
        {"korean", " ", ",", ".", {"나는",     "오늘",   "학교에",     "갔습니다", "한국어",
                                   "문장을",   "씁니다", "날씨가",     "아주",     "좋습니다",
                                   "서울에서", "친구를", "만났습니다", "새로운",   "책을",
                                   "읽는",     "것을",   "좋아합니다", "컴퓨터",   "문자",
                                   "변환",     "시간",   "사람들",     "그리고",   "하지만",
                                   "우리는"}},
        {"thai", "", " ", " ", {"ฉัน",        "ไป",     "โรงเรียน", "วันนี้",    "อากาศ",
                                "ดี",         "มาก",    "ภาษาไทย", "เขียน",   "หนังสือ",
                                "อ่าน",       "เพื่อน",   "กรุงเทพ",  "และ",    "แต่",
                                "คอมพิวเตอร์", "ตัวอักษร", "เวลา",    "ประเทศ", "คน"}},
        {"polish", " ", ",", ".", {"jest",      "się",   "że",      "nie",     "był",
                                   "będzie",    "może",  "także",   "również", "więc",
                                   "człowiek",  "życie", "ręka",    "dzień",   "miasto",
                                   "Kraków",    "Łódź",  "książka", "źródło",  "gęś",
                                   "żółw",      "ćma",   "mówić",   "pisać",   "znaków",
                                   "kodowanie", "w",     "na",      "do",      "z"}},
        {"czech", " ", ",", ".", {"je",    "se",    "že",       "není",  "byl",    "bude",
                                  "může",  "také",  "člověk",   "život", "ruka",   "den",
                                  "město", "Praha", "Brno",     "kniha", "příliš", "žluťoučký",
                                  "kůň",   "úpěl",  "ďábelské", "ódy",   "řeka",   "a",
                                  "v",     "na",    "do",       "z"}},
        {"russian", " ", ",", ".", {"и",     "в",      "не",      "на",    "я",      "что",
                                    "он",    "с",      "как",     "это",   "по",     "но",
                                    "они",   "мы",     "человек", "время", "жизнь",  "день",
                                    "рука",  "работа", "слово",   "место", "Москва", "говорить",
                                    "знать", "город",  "книга",   "ёлка",  "объём",  "съешь",
                                    "щука"}},
        {"ukrainian", " ", ",", ".", {"і",      "в",      "не",    "на",     "я",        "що",
                                      "він",    "з",      "як",    "це",     "але",      "вони",
                                      "ми",     "людина", "час",   "життя",  "день",     "рука",
                                      "робота", "слово",  "місто", "Київ",   "говорити", "знати",
                                      "книга",  "їжак",   "ґанок", "Європа", "її",       "ще"}},
        {"french", " ", ",", ".", {"le",    "la",      "les",   "de",     "et",    "à",
                                   "un",    "une",     "être",  "avoir",  "que",   "pour",
                                   "dans",  "où",      "très",  "déjà",   "après", "français",
                                   "élève", "château", "forêt", "garçon", "Noël",  "cœur",
                                   "été",   "là",      "même",  "ça",     "leçon", "naïf"}},
        {"german", " ", ",", ".", {"der",    "die",     "und",   "in",     "den",    "von",
                                   "zu",     "das",     "mit",   "sich",   "über",   "für",
                                   "schön",  "Mädchen", "Größe", "Straße", "heißen", "müssen",
                                   "können", "Bäume",   "früh",  "Käse",   "Übung",  "Öl",
                                   "wäre",   "Tür",     "hören", "Fuß",    "ist",    "nicht"}},
        {"greek", " ", ",", ".", {"και",      "το",      "να",    "είναι", "της",
                                  "που",      "με",      "για",   "στο",   "από",
                                  "άνθρωπος", "χρόνος",  "ζωή",   "ημέρα", "χέρι",
                                  "δουλειά",  "λέξη",    "Αθήνα", "πόλη",  "βιβλίο",
                                  "θάλασσα",  "ουρανός", "ψυχή",  "ξένος", "Ελλάδα"}},
        {"turkish", " ", ",", ".", {"ve",    "bir",   "bu",    "da",      "için",     "çok",
                                    "değil", "ile",   "gibi",  "ama",     "İstanbul", "Türkiye",
                                    "güzel", "şehir", "insan", "zaman",   "hayat",    "gün",
                                    "iş",    "söz",   "kitap", "öğrenci", "ılık",     "ağaç",
                                    "çiçek", "ışık",  "göz",   "kız"}},
        {"hebrew", " ", ",", ".", {"את",  "של",   "על",   "הוא", "לא",  "זה",      "היא",
                                   "עם",  "כל",   "אני",  "גם",  "אבל", "ירושלים", "ספר",
                                   "אדם", "זמן",  "חיים", "יום", "יד",  "עבודה",   "מילה",
                                   "עיר", "שלום", "ילד",  "בית"}},
        {"arabic", " ", "،", ".", {"في",   "من",   "على", "أن",    "إلى",     "هذا",  "التي",
                                   "الذي", "كان",  "عن",  "مع",    "القاهرة", "كتاب", "إنسان",
                                   "وقت",  "حياة", "يوم", "يد",    "عمل",     "كلمة", "مدينة",
                                   "سلام", "ولد",  "بيت", "اللغة", "العربية"}},
        {"lithuanian", " ", ",", ".", {"ir",      "yra",   "kad",     "su",     "į",
                                       "ne",      "buvo",  "žmogus",  "laikas", "gyvenimas",
                                       "diena",   "ranka", "darbas",  "žodis",  "miestas",
                                       "Vilnius", "knyga", "ąžuolas", "ėjo",    "įvairūs",
                                       "šeši",    "ūkis",  "čia",     "ų",      "gražus",
                                       "ąsotis",  "kalba"}},
        {"latvian", " ", ",", ".", {"un",      "ir",      "ka",      "ar",    "uz",      "ne",
                                    "bija",    "cilvēks", "laiks",   "dzīve", "diena",   "roka",
                                    "darbs",   "vārds",   "pilsēta", "Rīga",  "grāmata", "ķirbis",
                                    "ģimene",  "ļoti",    "šodien",  "ūdens", "čūska",   "ņemt",
                                    "žurnāls", "valoda"}},
        {"vietnamese",
         " ",
         ",",
         ".",
         {"va\u0300",
          "cu\u0309a",
          "kh\u00F4ng",
          "co\u0301",
          "la\u0300",
          "ng\u01B0\u01A1\u0300i",
          "m\u00F4\u0323t",
          "nh\u01B0\u0303ng",
          "\u0111\u01B0\u01A1\u0323c",
          "trong",
          "cho",
          "Vi\u00EA\u0323t",
          "Nam",
          "Ha\u0300",
          "N\u00F4\u0323i",
          "ti\u00EA\u0301ng",
          "sa\u0301ch",
          "th\u01A1\u0300i",
          "gian",
          "cu\u00F4\u0323c",
          "s\u00F4\u0301ng",
          "nga\u0300y",
          "\u0111\u01B0\u01A1\u0300ng",
          "tha\u0300nh",
          "ph\u00F4\u0301",
          "n\u01B0\u01A1\u0301c",
          "ho\u0323c",
          "sinh"}},
        {"esperanto", " ", ",", ".", {"la",   "kaj",  "estas", "de",     "al",      "en",
                                      "mi",   "vi",   "ĉiu",   "ĝi",     "ĥoro",    "ĵurnalo",
                                      "ŝi",   "aŭ",   "ankaŭ", "ĉambro", "ĝardeno", "manĝi",
                                      "eĉ",   "ŝipo", "libro", "urbo",   "homo",    "tempo",
                                      "vivo", "tago"}},
        {"icelandic", " ", ",", ".", {"og",    "að",   "er",       "í",      "á",     "sem",
                                      "ekki",  "það",  "við",      "maður",  "tími",  "líf",
                                      "dagur", "hönd", "vinna",    "orð",    "borg",  "Reykjavík",
                                      "bók",   "þú",   "ég",       "Ísland", "veður", "fjörður",
                                      "sjór",  "ár",   "æðarfugl", "þjóð"}},
        {"welsh", " ", ",", ".", {"a",      "y",        "yn",    "o",     "i",     "ar",
                                  "mae",    "yr",       "gŵr",   "dŵr",   "tŷ",    "bydd",
                                  "Cymru",  "Caerdydd", "llyfr", "amser", "bywyd", "diwrnod",
                                  "llaw",   "gwaith",   "gair",  "dinas", "ŵyr",   "gweithio",
                                  "mynydd", "afon",     "cân",   "ŷd"}},
        {"romanian", " ", ",", ".", {"și",     "în",        "de",    "la",   "cu",     "nu",
                                     "este",   "că",        "pe",    "un",   "o",      "om",
                                     "timp",   "viață",     "zi",    "mână", "muncă",  "cuvânt",
                                     "oraș",   "București", "carte", "țară", "școală", "învăța",
                                     "frumos", "până",      "așa",   "ține"}},
    };
    return all;
}

inline const Language& languageNamed(const std::string& name) {
    for (const Language& language : languages())
        if (name == language.name) return language;
    return languages().front();
}

inline std::string makeProse(const Language& language, size_t size = 1024 * 1024) {
    std::mt19937 random(2026);
    std::string text;
    text.reserve(size + 64);
    const size_t count = language.words.size();
    while (text.size() < size) {
        for (int i = 0, n = 4 + random() % 12; i < n; ++i) {
            if (i > 0) text += random() % 6 ? language.separator : language.comma;
            text += language.words[random() % count];
        }
        text += language.stop;
        text += random() % 4 ? language.separator : "\n";
    }
    return text;
}

}  // namespace velta_bench

#endif
