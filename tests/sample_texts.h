// Short news-like texts in several scripts (UTF-8), for the tests that
// guess encodings: long enough to tell the encodings of one script apart.
#ifndef VELTA_TESTS_SAMPLE_TEXTS_H
#define VELTA_TESTS_SAMPLE_TEXTS_H

namespace velta_test {

constexpr char kChineseText[] =
    "北京时间今天上午，国家统计局发布了最新的经济数据。数据显示，"
    "我国经济运行总体平稳，就业形势基本稳定，居民消费价格温和上涨。\n";
constexpr char kTraditionalChineseText[] =
    "台北市政府今天宣布，將在明年擴大公共運輸的補助範圍，"
    "讓更多市民能夠以較低的費用搭乘捷運與公車。\n";
constexpr char kKoreanText[] =
    "서울시는 오늘 내년부터 대중교통 요금 지원을 확대한다고 밝혔다. "
    "시민들은 더 저렴한 비용으로 지하철과 버스를 이용할 수 있게 된다.\n";
constexpr char kJapaneseText[] =
    "東京都は本日、来年から公共交通の料金補助を拡大すると発表した。"
    "都民はより安い料金で地下鉄やバスを利用できるようになる。\n";
constexpr char kGermanText[] = "Die Straßenbahn fährt künftig öfter; Änderungen gelten ab März.\n";

}  // namespace velta_test

#endif
