// The hello shapes' reading rules, as the page's 65-hello.js has them; the
// shared vectors hold both to one text.
#include <map>

#include "cli/rules.h"

namespace tv::cli {
namespace {

struct Shape {
    char mark;
    const char* genitive; // as the note names it
};
constexpr Shape kShapes[] = {{'L', "библиотеки"}, {'C', "Chrome"}, {'F', "Firefox"}};

constexpr const char* kNote = "Фильтр по <b>отпечатку TLS</b>: пропускает ClientHello {pass}, "
                              "режет {cut}. {tail}";
constexpr const char* kAnd = " и ";
constexpr const char* kChromeCutFirefoxPasses =
    "Туннель, который прикидывается Chrome (uTLS, Reality), сюда не пройдёт: поставь в клиенте "
    "отпечаток Firefox.";
constexpr const char* kChromeCut =
    "Туннель, который прикидывается Chrome (uTLS, Reality), сюда не пройдёт.";
constexpr const char* kChromePassesLibCut =
    "Туннель с отпечатком Chrome (uTLS, Reality) пройдёт, хотя скан библиотекой тут режется.";
constexpr const char* kChromePasses = "Туннель с отпечатком Chrome (uTLS, Reality) пройдёт.";
constexpr const char* kOther = "Туннелю нужен тот отпечаток, который проходит.";

bool passes(const std::string& w) {
    return w == "ok" || w == "alert";
}
bool isCut(const std::string& w) {
    return w == "reset" || w == "timeout";
}

bool known(const std::string& mode) {
    return mode == "chrome" || mode == "firefox" || mode == "all";
}

// The words of the shapes, in mark order.
const std::string* wordsOf(const HelloView& h, size_t i) {
    return i == 0 ? &h.lib : i == 1 ? &h.chrome : &h.firefox;
}

bool ran(const HelloView& h, size_t i) {
    if (!known(h.mode))
        return false;
    return h.mode == "all" || (i == 1 && h.mode == "chrome") || (i == 2 && h.mode == "firefox");
}

std::string replaced(std::string s, const std::string& key, const std::string& value) {
    const size_t at = s.find(key);
    return at == std::string::npos ? s : s.replace(at, key.size(), value);
}

} // namespace

const char* const kHelloLegend =
    "Отпечаток: L — библиотека, C — Chrome, F — Firefox; + прошёл, - срезан, ? неясно";

std::string helloToken(const HelloView& h) {
    std::string t;
    for (size_t i = 0; i < 3; ++i) {
        if (!ran(h, i))
            continue;
        const std::string& w = *wordsOf(h, i);
        t += kShapes[i].mark;
        t += passes(w) ? '+' : isCut(w) ? '-' : '?';
    }
    return t;
}

std::optional<MatrixNote> helloNote(const std::string& ip,
                                    const std::vector<const MatrixCell*>& cells) {
    std::map<char, bool> cut; // by mark: true cut, false passed
    bool split = false;
    for (const MatrixCell* c : cells) {
        const HelloView& h = c->hello;
        if (h.mode != "all")
            continue;
        const int lib = passes(h.lib) ? 1 : isCut(h.lib) ? -1 : 0;
        const auto opposite = [&](const std::string& b) { return lib > 0 ? isCut(b) : passes(b); };
        if (lib == 0 || !(opposite(h.chrome) || opposite(h.firefox)))
            continue;
        split = true;
        for (size_t i = 0; i < 3; ++i) {
            const std::string& w = *wordsOf(h, i);
            if (isCut(w))
                cut[kShapes[i].mark] = true;
            else if (passes(w) && !cut.count(kShapes[i].mark))
                cut[kShapes[i].mark] = false;
        }
    }
    auto names = [&](bool wantCut) {
        std::string s;
        for (const Shape& sh : kShapes) {
            const auto it = cut.find(sh.mark);
            if (it == cut.end() || it->second != wantCut)
                continue;
            if (!s.empty())
                s += kAnd;
            s += sh.genitive;
        }
        return s;
    };
    const std::string passList = names(false), cutList = names(true);
    if (!split || passList.empty() || cutList.empty())
        return std::nullopt;
    const auto state = [&](char m) { return cut.count(m) ? (cut[m] ? -1 : 1) : 0; };
    const char* tail = state('C') < 0   ? (state('F') > 0 ? kChromeCutFirefoxPasses : kChromeCut)
                       : state('C') > 0 ? (state('L') < 0 ? kChromePassesLibCut : kChromePasses)
                                        : kOther;
    std::string text =
        replaced(replaced(replaced(kNote, "{pass}", passList), "{cut}", cutList), "{tail}", tail);
    return MatrixNote{ip, "note warn", std::move(text)};
}

} // namespace tv::cli
