#include "cli/texts.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <vector>

#include "bridge/settings.h"

namespace tv::cli {
namespace {

std::atomic<Lang> gLang{Lang::Ru};

struct Phrase {
    const char* ru;
    const char* en;
};

// Whole texts: a table cell or a word that, as a fragment, would also match
// inside other words.
constexpr Phrase kWhole[] = {
    {"нет", "no"},
    {"перехват", "intercepted"},
    {"не проверено", "not checked"},
    {"Что", "What"},
    {"Отпечаток", "TLS hello"},
};

// Fragments, applied longest first. "{}" stands for a run of characters other
// than the blank, given back in the English text as {1}, {2}, ... in order.
constexpr Phrase kPhrases[] = {
    // The overall status and the verdicts.
    {"Статус неизвестен — запусти скан", "Status unknown — run a scan"},
    {"СЕТИ НЕТ или режется всё", "NO NETWORK or everything is cut"},
    {"БЕЛЫЕ СПИСКИ", "ALLOW-LISTS"},
    {"ОТКРЫТО", "OPEN"},
    {"ЧАСТИЧНО", "PARTIAL"},
    {" · мир ", " · world "},
    {"Статус: ", "Status: "},
    {"ПРОХОДИТ", "PASS"},
    {"ДОСТУЧАЛСЯ", "REACHED"},
    {"DPI / СБРОС", "DPI / RESET"},
    {"БЛОК", "BLOCKED"},
    {"НЕСТАБИЛЬНО", "UNSTABLE"},
    {"Нестабильно: ", "Unstable: "},
    {"нестабильно ", "unstable "},
    {"Остановлено", "Stopped"},
    // Groups and table heads.
    {"Российские", "Russian"},
    {"Облака / CDN", "Clouds / CDN"},
    {"Хостинги / VPS", "Hosting / VPS"},
    {"Контроль (мир)", "Control (world)"},
    {"Свои", "Custom"},
    {" · проходят", " · pass"},
    {"Домен", "Domain"},
    {"Группа", "Group"},
    {"Сертификат", "Certificate"},
    {"Вердикт", "Verdict"},
    {"Хост", "Host"},
    // The transfer test.
    {"64 КБ ✓", "64 KB ✓"},
    {"ЗАМОРОЗКА ", "FROZEN "},
    {"МЕДЛЕННО ", "SLOW "},
    {"мало данных", "too little data"},
    {"СБРОС", "RESET"},
    {"нет данных", "no data"},
    {"Рукопожатие проходит, но данные встают", "The handshake passes, but data stalls"},
    {" после ≈", " after ≈"},
    {" — туннель на этот адрес работать не будет, даже с белым SNI.",
     " — a tunnel to this address will not work, even with an allow-listed SNI."},
    {"Рукопожатие проходит, но скорость режется", "The handshake passes, but speed is throttled"},
    {" до ≈", " down to ≈"},
    {" — туннель на этот адрес будет еле живым.", " — a tunnel to this address will barely live."},
    {"Рукопожатия проходят, но на части адресов данные встают или режется скорость: белые списки "
     "не сняты, смотри заметки по адресам.",
     "Handshakes pass, but on some addresses data stalls or speed is throttled: the allow-lists "
     "are not lifted, see the notes per address."},
    {"Тест 16–20 КБ", "16–20 KB test"},
    {"кбит/с", "kbit/s"},
    {"КБ", "KB"},
    {"мс", "ms"},
    // The matrix notes.
    {"Попытки на этот адрес расходятся (нестабильно) — вид фильтра по имени так не определить: "
     "похоже на случайные обрывы, а не на список имён.",
     "The tries to this address disagree (unstable) — the kind of name filter cannot be told "
     "this way: looks like random drops, not a list of names."},
    {"Фильтра по имени на этом адресе нет: проходят все имена, даже случайное.",
     "No filter by name on this address: every name passes, even the random one."},
    {"Фильтр по имени — белый список: проходят только белые имена, случайное имя режется.",
     "Filter by name — an allow-list: only allow-listed names pass, the random name is cut."},
    {"Фильтр по имени — чёрный список: случайное имя проходит, режутся только имена из списка: ",
     "Filter by name — a block-list: the random name passes, only names from the list are cut: "},
    {"TCP:443 до этого IP вообще не проходит — адрес отрезан (или хост лежит).",
     "TCP:443 to this IP does not pass at all — the address is cut off (or the host is down)."},
    {"Белые имена на этот адрес то проходят, то режутся (нестабильно {} из {}): туннель с "
     "маскировкой под белый SNI будет обрываться, даже если одна проверка прошла.",
     "Allow-listed names to this address pass one moment and are cut the next (unstable {1} of "
     "{2}): a tunnel disguised with an allow-listed SNI will keep dropping, even if one check "
     "passed."},
    {"Фильтр по SNI: белые имена проходят ({}), чужие режутся. Хороший знак: сервер где угодно + "
     "маскировка под белый SNI (Reality) может сработать.",
     "Filter by SNI: allow-listed names pass ({1}), foreign ones are cut. A good sign: a server "
     "anywhere + disguise under an allow-listed SNI (Reality) may work."},
    {"Пускает и белые, и чужие SNI ({} белых, {} чужих). SNI не фильтруется — IP белый или фильтр "
     "сейчас снят.",
     "Lets through both allow-listed and foreign SNIs ({1} allow-listed, {2} foreign). SNI is not "
     "filtered — the IP is allow-listed or the filter is lifted right now."},
    {"Странно: белые SNI режутся, чужие проходят. Проверь таймауты и повтори.",
     "Odd: allow-listed SNIs are cut, foreign ones pass. Check the time-outs and repeat."},
    {"TCP есть, но TLS режется при любом SNI (", "TCP is there, but TLS is cut with any SNI ("},
    {"даже без SNI проходит", "passes even without SNI"},
    {"без SNI тоже нет", "fails without SNI too"},
    {") — похоже на DPI или блок по IP.", ") — looks like DPI or an IP block."},
    {"Всё проходит, похоже, белые списки сейчас сняты. Сохрани снимок как эталон, потом повторишь "
     "скан при блокировке и сравнишь.",
     "Everything passes, the allow-lists seem to be lifted right now. Save a snapshot as the "
     "baseline, then repeat the scan under blocking and compare."},
    // The hello's shape.
    {"Фильтр по отпечатку TLS: пропускает ClientHello ",
     "Filter by TLS fingerprint: lets through the ClientHello of "},
    {"библиотеки", "the library"},
    {", режет ", ", cuts "},
    {" и ", " and "},
    {"Туннель, который прикидывается Chrome (uTLS, Reality), сюда не пройдёт: поставь в клиенте "
     "отпечаток Firefox.",
     "A tunnel posing as Chrome (uTLS, Reality) will not get through here: set the Firefox "
     "fingerprint in the client."},
    {"Туннель, который прикидывается Chrome (uTLS, Reality), сюда не пройдёт.",
     "A tunnel posing as Chrome (uTLS, Reality) will not get through here."},
    {"Туннель с отпечатком Chrome (uTLS, Reality) пройдёт, хотя скан библиотекой тут режется.",
     "A tunnel with the Chrome fingerprint (uTLS, Reality) will get through, though the "
     "library's scan is cut here."},
    {"Туннель с отпечатком Chrome (uTLS, Reality) пройдёт.",
     "A tunnel with the Chrome fingerprint (uTLS, Reality) will get through."},
    {"Туннелю нужен тот отпечаток, который проходит.", "A tunnel needs the fingerprint that passes."},
    {"Рукопожатия библиотекой проходят, но на части адресов ClientHello браузера режется: белые "
     "списки не сняты, смотри заметки по адресам.",
     "The library's handshakes pass, but on some addresses a browser's ClientHello is cut: the "
     "allow-lists are not lifted, see the notes per address."},
    {"Отпечаток: L — библиотека, C — Chrome, F — Firefox; + прошёл, - срезан, ? неясно",
     "Fingerprint: L — library, C — Chrome, F — Firefox; + passed, - cut, ? unclear"},
    {"Отпечаток TLS", "TLS fingerprint"},
    // Warnings and DNS findings.
    {"Похоже, активен VPN / прокси / TUN. TCP-соединения с внешними адресами устанавливаются за "
     "0–3 мс — так не бывает без локального перехвата трафика. Скан сейчас проверяет твой VPN, а "
     "не оператора. Отключи VPN (v2rayN, Hiddify, sing-box и т.п.) и повтори, иначе эталон "
     "получится ложным.",
     "A VPN / proxy / TUN seems to be active. TCP connections to outside addresses open in 0–3 ms "
     "— that does not happen without local interception of traffic. The scan is now testing your "
     "VPN, not your operator. Turn off the VPN (v2rayN, Hiddify, sing-box etc.) and repeat, or "
     "the baseline will be false."},
    {"Системный DNS отдаёт «домен не найден» для известных сайтов, а другие домены в это же время "
     "резолвятся. Это сбой или фильтрация DNS у оператора, а не блок по IP. Строки с nx не "
     "говорят, режется ли сам адрес.",
     "The system DNS answers “domain not found” for well-known sites, while other domains resolve "
     "at the same time. This is a DNS failure or DNS filtering at the operator, not an IP block. "
     "Rows with nx do not tell whether the address itself is cut."},
    {"Подмена DNS. Для части сайтов системный DNS отдаёт чужой адрес (заглушку или "
     "блок-страницу): шифрованный DNS дал другой адрес, и там сертификат настоящий. Строки с "
     "пометкой «подмена DNS» проверяют заглушку, а не сам сайт.",
     "DNS answers are swapped. For some sites the system DNS gives a foreign address (a stub or a "
     "block page): encrypted DNS gave another address, and the certificate there is genuine. Rows "
     "marked “DNS swapped” test the stub, not the site itself."},
    {"DNS-запросы на UDP/53 перехватывают. Вместо публичного резолвера отвечает сама сеть "
     "(обычно DNS оператора): так показал whoami по UDP и по DoT. Ответы строк с пометкой "
     "«перехват» пришли не от того резолвера, которого ты спрашивал.",
     "DNS queries on UDP/53 are intercepted. Instead of the public resolver the network itself "
     "answers (usually the operator's DNS): whoami over UDP and over DoT showed it. The answers of "
     "rows marked “intercepted” did not come from the resolver you asked."},
    {" [подмена DNS, настоящий адрес ", " [DNS swapped, genuine address "},
    {"подмена DNS", "DNS swapped"},
    {"Подмена DNS", "DNS swapped"},
    {"Перехват UDP/53", "UDP/53 intercepted"},
    {"Перехват: ", "Intercepted: "},
    {" · перехват: whoami ", " · intercepted: whoami "},
    {", по DoT ", ", via DoT "},
    // The basic test.
    {"DNS системный", "System DNS"},
    {"DNS по UDP/53", "DNS over UDP/53"},
    {"TCP:443 по IP", "TCP:443 to IP"},
    {"DNS по DoT", "DNS over DoT"},
    {"DNS по DoH", "DNS over DoH"},
    {"Твой выход в интернет: ", "Your exit to the internet: "},
    {"Данные о выходе в интернет получить не удалось. ip-api.com недоступен — при белых списках "
     "это нормально.",
     "No data on your exit to the internet. ip-api.com cannot be reached — under allow-lists "
     "that is normal."},
    // Reports and comparisons.
    {"== Домены ==", "== Domains =="},
    {"== Базовый тест ==", "== Basic test =="},
    {"Выход: данные недоступны (", "Exit: no data ("},
    {"Выход: ", "Exit: "},
    {", попыток ", ", tries "},
    {"~k/N: попытки расходятся, прошло k из N", "~k/N: the tries disagree, k of N passed"},
    {": изменилось {} из {}", ": {1} of {2} changed"},
    {"Без изменений.", "No changes."},
    {"A (было)", "A (before)"},
    {"B (стало)", "B (after)"},
    {"? (случайное)", "? (random)"},
    {"Домены", "Domains"},
    {"Повторы (прошло из попыток)", "Tries (passed of tried)"},
    // Notices of the native side.
    {"Недопустимое имя файла", "Invalid file name"},
    {"Не удалось записать файл", "Could not write the file"},
    {"Не удалось прочитать файл ", "Could not read the file "},
    {"Не удалось скопировать в буфер обмена", "Could not copy to the clipboard"},
    {"Скопировано в буфер обмена", "Copied to the clipboard"},
    {"Сканирование уже идёт", "A scan is already running"},
    {"Снимок сохранён: ", "Snapshot saved: "},
    {"снимок не сохранён", "the snapshot was not saved"},
    // Usage and input errors.
    {"не удалось прочитать файл ", "cannot read the file "},
    {": нет такого файла", ": no such file"},
    {": это папка, а не файл", ": it is a folder, not a file"},
    {": нет доступа", ": access denied"},
    {": ошибка чтения", ": read error"},
    {" — не снимок: ожидался JSON-объект", " — not a snapshot: a JSON object was expected"},
    {"заданий больше {} — взяты первые {}, отброшено строк: {}",
     "more than {1} jobs — the first {2} were taken, lines dropped: {3}"},
    {"Справка: ", "Help: "},
    {"в списке нет ни одного домена", "the list holds no domain"},
    {"в списке нет ни одного задания", "the list holds no job"},
    {"Нужны и IP, и SNI", "Both IPs and SNIs are needed"},
    {"Слишком много комбинаций (макс. 3000)", "Too many combinations (max. 3000)"},
    {": ожидалось lib, chrome, firefox или all", ": expected lib, chrome, firefox or all"},
    {": ожидалось целое от 1 до 10", ": expected an integer from 1 to 10"},
    {": ожидалось целое число", ": expected an integer"},
    {": ожидалось ru или en", ": expected ru or en"},
    {", получено «", ", got «"},
    {"после {} нужно значение", "a value must follow {1}"},
    {"неизвестный параметр ", "unknown option "},
    {"лишний аргумент ", "extra argument "},
    {"не указана команда", "no command given"},
    {"неизвестная команда ", "unknown command "},
    {"report: нужен файл снимка", "report: a snapshot file is needed"},
    {"compare: нужны два файла снимков, A и B", "compare: two snapshot files are needed, A and B"},
    {"команда {} не принимает файл", "the command {1} takes no file"},
    {"matrix: нужны --ips ФАЙЛ и --snis ФАЙЛ", "matrix: --ips FILE and --snis FILE are needed"},
    {" из ", " of "},
};

struct Compiled {
    std::vector<std::string> pieces; // literal parts between the "{}"
    std::string en;
};

const std::vector<Compiled>& compiled() {
    static const std::vector<Compiled> table = [] {
        std::vector<Compiled> t;
        for (const auto& p : kPhrases) {
            Compiled c;
            const std::string ru = p.ru;
            size_t start = 0;
            for (size_t at; (at = ru.find("{}", start)) != std::string::npos; start = at + 2)
                c.pieces.push_back(ru.substr(start, at - start));
            c.pieces.push_back(ru.substr(start));
            c.en = p.en;
            t.push_back(std::move(c));
        }
        const auto len = [](const Compiled& c) {
            size_t n = 0;
            for (const auto& s : c.pieces)
                n += s.size();
            return n;
        };
        std::stable_sort(t.begin(), t.end(),
                         [&](const Compiled& a, const Compiled& b) { return len(a) > len(b); });
        return t;
    }();
    return table;
}

// Matches `c` at `at`: the end of the match and the captures, or npos.
size_t matchAt(const std::string& s, size_t at, const Compiled& c, std::vector<std::string>& caps) {
    caps.clear();
    size_t i = at;
    for (size_t k = 0; k < c.pieces.size(); ++k) {
        if (k > 0) {
            size_t e = i;
            while (e < s.size() && s[e] != ' ')
                ++e;
            // The capture ends where the next literal starts, within the run.
            size_t found = std::string::npos;
            for (size_t j = i + 1; j <= e; ++j)
                if (s.compare(j, c.pieces[k].size(), c.pieces[k]) == 0) {
                    found = j;
                    break;
                }
            if (found == std::string::npos)
                return std::string::npos;
            caps.push_back(s.substr(i, found - i));
            i = found;
        }
        if (s.compare(i, c.pieces[k].size(), c.pieces[k]) != 0)
            return std::string::npos;
        i += c.pieces[k].size();
    }
    return i;
}

std::string fill(const std::string& en, const std::vector<std::string>& caps) {
    std::string out;
    for (size_t i = 0; i < en.size(); ++i) {
        if (en[i] == '{' && i + 2 < en.size() && en[i + 2] == '}' && en[i + 1] >= '1' &&
            en[i + 1] <= '9') {
            const size_t k = static_cast<size_t>(en[i + 1] - '1');
            if (k < caps.size())
                out += caps[k];
            i += 2;
        } else {
            out += en[i];
        }
    }
    return out;
}

} // namespace

void setLanguage(Lang lang) {
    gLang.store(lang);
}

Lang language() {
    return gLang.load();
}

std::optional<Lang> parseLang(std::string_view word) {
    if (word == kLangRu)
        return Lang::Ru;
    if (word == kLangEn)
        return Lang::En;
    return std::nullopt;
}

Lang langOfLocale(std::string_view locale) {
    if (locale.empty() || locale == "C" || locale == "POSIX" || locale.rfind("C.", 0) == 0)
        return Lang::Ru;
    return locale.rfind("ru", 0) == 0 ? Lang::Ru : Lang::En;
}

std::string englishText(std::string_view text) {
    std::string s(text);
    for (const auto& w : kWhole)
        if (s == w.ru)
            return w.en;
    std::vector<std::string> caps;
    for (const auto& c : compiled()) {
        const std::string& first = c.pieces.front();
        for (size_t at = s.find(first); at != std::string::npos; at = s.find(first, at)) {
            const size_t end = matchAt(s, at, c, caps);
            if (end == std::string::npos) {
                at += first.size();
                continue;
            }
            const std::string en = fill(c.en, caps);
            s.replace(at, end - at, en);
            at += en.size();
        }
    }
    return s;
}

std::string shownText(std::string_view text) {
    return language() == Lang::En ? englishText(text) : std::string(text);
}

} // namespace tv::cli
