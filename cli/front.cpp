#include "cli/front.h"

#include <algorithm>
#include <cstdint>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>

#include "base/log.h"
#include "base/paths.h"
#include "base/text.h"
#include "bridge/dispatcher.h"
#include "bridge/protocol.h"
#include "bridge/state.h"
#include "bridge/ui_sink.h"
#include "base/identity.h"
#include "cli/history.h"
#include "cli/json.h"
#include "cli/platform.h"
#include "cli/render.h"
#include "cli/rules.h"
#include "cli/texts.h"
#include "web/page.h"

namespace tv::cli {
namespace {

std::atomic<bool> gInterrupted{false};

constexpr const char* kUsage = R"(Использование: tarnveil-cli КОМАНДА [ПАРАМЕТРЫ]

Команды:
  domains [ФАЙЛ|-]             скан сгруппированного списка доменов (по умолчанию встроенный
                               список; формат: "# [группа] заголовок", строка = домен)
  matrix --ips ФАЙЛ --snis ФАЙЛ  матрица IP × SNI ("-" = без SNI, "?" = случайное имя,
                               "#" = комментарий)
  basics                       базовый тест сети и данные о выходе в интернет
  scan [ФАЙЛ|-]                сырые задания, строка = host|sni
  report СНИМОК                текстовый отчёт сохранённого снимка (путь или имя файла в папке scans)
  compare A B                  сравнить два снимка: что изменилось от A к B

Параметры:
  --threads N      потоков (domains, matrix: 16; scan: 8), 1..48
  --timeout MS     таймаут, мс (4000; basics: 3500)
  --no-http        без HTTP-проверки (domains, scan)
  --xfer, --no-xfer  тест 16–20 КБ: после ответа качаем и отправляем по 64 КБ, так видно
                   заморозку соединения и урезанную скорость (по умолчанию включён;
                   в domains и scan нужен HTTP: --no-http его выключает)
  --dns-check      при плохом сертификате спросить шифрованный DNS: не подменён ли
                   ответ системного DNS (domains, scan; включено по умолчанию)
  --no-dns-check   без этой проверки
  --hello ВИД      какой ClientHello слать (domains, matrix, scan): lib — библиотека (по умолчанию),
                   chrome, firefox — как браузер (без сертификата и HTTP), all — сравнить все три
  --repeat N       повторов каждой проверки, 1..10 (1): каждая — новое соединение; если
                   они расходятся, строка помечена «нестабильно k/N»
  --json           только UI-сообщения (res, net, ipinfo, done), по одному JSON в строке
  --save [МЕТКА]   сохранить снимок в папку scans (его видит вкладка «История»)
  --help           эта справка
  --version        версия программы
  --lang ru|en     язык вывода (по умолчанию — по локали: LC_ALL, LC_MESSAGES, LANG;
                   в Windows — язык интерфейса; без локали — русский)

Коды выхода: 0 — скан прошёл; 1 — снимок не сохранён; 2 — неверный вызов или нечитаемый ввод;
3 — ничего не прошло.
Ctrl-C останавливает скан; то, что уже пришло, будет выведено.
)";

constexpr const char* kUsageEn = R"(Usage: tarnveil-cli COMMAND [OPTIONS]

Commands:
  domains [FILE|-]             scan a grouped list of domains (default: the built-in list;
                               format: "# [group] title", one domain per line)
  matrix --ips FILE --snis FILE  the IP × SNI matrix ("-" = no SNI, "?" = a random name,
                               "#" = comment)
  basics                       the basic network test and the data on your exit to the internet
  scan [FILE|-]                raw jobs, one host|sni per line
  report SNAPSHOT              the text report of a saved snapshot (a path or a file name in scans)
  compare A B                  compare two snapshots: what changed from A to B

Options:
  --threads N      threads (domains, matrix: 16; scan: 8), 1..48
  --timeout MS     time-out, ms (4000; basics: 3500)
  --no-http        without the HTTP check (domains, scan)
  --xfer, --no-xfer  the 16–20 KB test: after the answer, download and upload 64 KB each way to
                   see a frozen connection and throttled speed (on by default; domains and scan
                   need HTTP for it: --no-http turns it off)
  --dns-check      on a bad certificate, ask encrypted DNS whether the system DNS answer was
                   swapped (domains, scan; on by default)
  --no-dns-check   without that check
  --hello KIND     which ClientHello to send (domains, matrix, scan): lib — the library's
                   (default), chrome, firefox — shaped like the browser (no certificate or HTTP),
                   all — compare all three
  --repeat N       tries of every check, 1..10 (1): each on a new connection; when they
                   disagree, the row is marked "unstable k/N"
  --json           only the UI messages (res, net, ipinfo, done), one JSON per line
  --save [LABEL]   save a snapshot into the scans folder (the History tab shows it)
  --help           this help
  --version        the program's version
  --lang ru|en     output language (default: from the locale: LC_ALL, LC_MESSAGES, LANG;
                   on Windows the UI language; without a locale, Russian)

Exit codes: 0 — the scan ran; 1 — the snapshot was not saved; 2 — bad usage or unreadable input;
3 — nothing passed.
Ctrl-C stops the scan; what has arrived is still printed.
)";

// UI messages posted by the runs, handed to the main thread in posting order.
class MessageQueue {
public:
    void push(std::string m) {
        {
            std::lock_guard<std::mutex> lock(mu_);
            q_.push_back(std::move(m));
        }
        cv_.notify_one();
    }
    bool pop(std::string& out, std::chrono::milliseconds wait) {
        std::unique_lock<std::mutex> lock(mu_);
        if (!cv_.wait_for(lock, wait, [this] { return !q_.empty(); }))
            return false;
        out = std::move(q_.front());
        q_.pop_front();
        return true;
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::deque<std::string> q_;
};

MessageQueue& queue() {
    static MessageQueue q;
    return q;
}

struct Options {
    std::string command;
    std::string file;
    bool haveFile = false;
    std::string ips, snis;
    std::string threads, timeout;
    bool http = true;
    std::optional<bool> xfer; // unset: on where HTTP is on, and in the matrix
    bool dnsCheck = true;
    std::string hello = "lib";
    int repeat = 1;
    bool json = false;
    bool save = false;
    std::string label;
    bool help = false;
    bool version = false;
    std::string file2; // compare: the second snapshot
};

struct UsageError {
    std::string text;
};

bool isInteger(const std::string& s) {
    if (s.empty())
        return false;
    size_t i = (s[0] == '-' || s[0] == '+') ? 1 : 0;
    if (i == s.size())
        return false;
    for (; i < s.size(); ++i)
        if (s[i] < '0' || s[i] > '9')
            return false;
    return true;
}

// UTF-8 file names, also on Windows where narrow paths mean the ANSI code page.
std::filesystem::path u8path(const std::string& s) {
    return std::filesystem::path(std::u8string(s.begin(), s.end()));
}

bool fileExists(const std::string& path) {
    std::ifstream f(u8path(path), std::ios::binary);
    return f.good();
}

std::optional<UsageError> parseArgs(const std::vector<std::string>& args, Options& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](const char* name) -> std::optional<std::string> {
            if (i + 1 >= args.size())
                return std::nullopt;
            (void)name;
            return args[++i];
        };
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a == "--lang") {
            // Read before everything else (runCli); here only stepped over.
            ++i;
        } else if (a == "--json") {
            o.json = true;
        } else if (a == "--no-http") {
            o.http = false;
        } else if (a == "--xfer" || a == "--no-xfer") {
            o.xfer = a == "--xfer";
        } else if (a == "--dns-check" || a == "--no-dns-check") {
            o.dnsCheck = a == "--dns-check";
        } else if (a == "--hello") {
            auto v = value(a.c_str());
            if (!v || (*v != "lib" && *v != "chrome" && *v != "firefox" && *v != "all"))
                return UsageError{"--hello: ожидалось lib, chrome, firefox или all"};
            o.hello = *v;
        } else if (a == "--repeat") {
            auto v = value(a.c_str());
            if (!v || !isInteger(*v) || v->size() > 3 || std::stoi(*v) < 1 || std::stoi(*v) > 10)
                return UsageError{"--repeat: ожидалось целое от 1 до 10" +
                                  (v ? ", получено «" + *v + "»" : std::string())};
            o.repeat = std::stoi(*v);
        } else if (a == "--threads" || a == "--timeout" || a == "--ips" || a == "--snis") {
            auto v = value(a.c_str());
            if (!v)
                return UsageError{"после " + a + " нужно значение"};
            if ((a == "--threads" || a == "--timeout") && !isInteger(*v))
                return UsageError{a + ": ожидалось целое число, получено «" + *v + "»"};
            (a == "--threads"   ? o.threads
             : a == "--timeout" ? o.timeout
             : a == "--ips"     ? o.ips
                                : o.snis) = *v;
        } else if (a == "--save") {
            o.save = true;
            // An optional label follows unless it looks like an option or a file to read.
            if (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-' &&
                !fileExists(args[i + 1]))
                o.label = args[++i];
        } else if (a.rfind("--save=", 0) == 0) {
            o.save = true;
            o.label = a.substr(7);
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            return UsageError{"неизвестный параметр " + a};
        } else if (o.command.empty()) {
            o.command = a;
        } else if (!o.haveFile) {
            o.file = a;
            o.haveFile = true;
        } else if (o.command == "compare" && o.file2.empty()) {
            o.file2 = a;
        } else {
            return UsageError{"лишний аргумент " + a};
        }
    }
    if (o.help || o.version)
        return std::nullopt;
    if (o.command.empty())
        return UsageError{"не указана команда"};
    if (o.command != "domains" && o.command != "matrix" && o.command != "basics" &&
        o.command != "scan" && o.command != "report" && o.command != "compare")
        return UsageError{"неизвестная команда " + o.command};
    if (o.command == "report" && !o.haveFile)
        return UsageError{"report: нужен файл снимка"};
    if (o.command == "compare" && o.file2.empty())
        return UsageError{"compare: нужны два файла снимков, A и B"};
    if (o.haveFile && (o.command == "matrix" || o.command == "basics"))
        return UsageError{"команда " + o.command + " не принимает файл"};
    if (o.command == "matrix" && (o.ips.empty() || o.snis.empty()))
        return UsageError{"matrix: нужны --ips ФАЙЛ и --snis ФАЙЛ"};
    return std::nullopt;
}

// Reads a whole input file ("-": standard input). On failure `why` says
// what stands in the way.
std::optional<std::string> readInput(const std::string& path, std::string* why = nullptr) {
    std::stringstream ss;
    if (path == "-") {
        ss << std::cin.rdbuf();
        return ss.str();
    }
    const auto fail = [&](const char* reason) -> std::optional<std::string> {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    std::error_code ec;
    const auto st = std::filesystem::status(u8path(path), ec);
    if (st.type() == std::filesystem::file_type::not_found)
        return fail("нет такого файла");
    if (st.type() == std::filesystem::file_type::directory)
        return fail("это папка, а не файл");
    std::ifstream in(u8path(path), std::ios::binary);
    if (!in)
        return fail("нет доступа");
    ss << in.rdbuf();
    if (in.bad())
        return fail("ошибка чтения");
    std::string s = ss.str();
    if (s.rfind("\xEF\xBB\xBF", 0) == 0)
        s.erase(0, 3);
    return s;
}

// Text of the front, in the chosen language.
void out(const std::string& text) {
    const std::string s = shownText(text);
    std::fwrite(s.data(), 1, s.size(), stdout);
    std::fflush(stdout);
}

void err(const std::string& text) {
    const std::string s = shownText(text);
    std::fwrite(s.data(), 1, s.size(), stderr);
    std::fflush(stderr);
}

// Reads an input file or says why it cannot (exit code 2 follows).
std::optional<std::string> readInputOrSay(const std::string& path) {
    std::string why;
    auto t = readInput(path, &why);
    if (!t)
        err("tarnveil-cli: не удалось прочитать файл " + toPrintable(path) +
            (why.empty() ? "" : ": " + why) + "\n");
    return t;
}

// Multi-line text for the terminal: each line made printable.
void outLines(const std::string& text) {
    std::string shown;
    size_t start = 0;
    while (start < text.size()) {
        size_t lf = text.find('\n', start);
        if (lf == std::string::npos)
            lf = text.size();
        shown += toPrintable(std::string_view(text).substr(start, lf - start)) + "\n";
        start = lf + 1;
    }
    out(shown);
}

// A saved snapshot: a path, or the name of a file in the scans folder.
struct LoadedSnapshot {
    Json json;
    std::string name; // the file name, as History lists it
    std::string when; // its local time, "?" when unreadable
};

std::optional<LoadedSnapshot> loadSnapshot(const std::string& arg) {
    std::string path = arg;
    std::error_code ec;
    if (!std::filesystem::exists(u8path(path), ec) &&
        arg.find_first_of("/\\") == std::string::npos) {
        const std::string inScans = joinPath(joinPath(executableDir(), "scans"), arg);
        if (std::filesystem::exists(u8path(inScans), ec))
            path = inScans;
    }
    const auto t = readInputOrSay(path);
    if (!t)
        return std::nullopt;
    auto j = parseJson(*t);
    if (!j || j->type != Json::Type::Object) {
        err("tarnveil-cli: " + toPrintable(arg) + " — не снимок: ожидался JSON-объект\n");
        return std::nullopt;
    }
    const auto u8 = u8path(path).filename().u8string();
    LoadedSnapshot s{std::move(*j), std::string(u8.begin(), u8.end()), "?"};
    if (const auto at = parseIsoTime(s.json.getString("created")))
        s.when = localDateTime(*at);
    return s;
}

// The job cap took only the first kMaxJobs lines.
void droppedNotice(size_t dropped) {
    err("tarnveil-cli: заданий больше " + std::to_string(kMaxJobs) + " — взяты первые " +
        std::to_string(kMaxJobs) + ", отброшено строк: " + std::to_string(dropped) + "\n");
}

// Sends one page command and collects every UI message until the `done` of
// run 1, calling `onMessage` for each. The interrupt turns into a "cancel".
void runAndCollect(const std::string& command,
                   const std::function<void(const Json&, const std::string&)>& onMessage) {
    dispatchCommand(command);
    bool cancelSent = false;
    while (true) {
        std::string m;
        if (!queue().pop(m, std::chrono::milliseconds(100))) {
            if (gInterrupted.load() && !cancelSent) {
                dispatchCommand(std::string(kCmdCancel));
                cancelSent = true;
            }
            continue;
        }
        const auto j = parseJson(m);
        if (!j)
            continue;
        onMessage(*j, m);
        if (j->getString("t") == "done" && j->getInt("run") == 1)
            break;
        if (gInterrupted.load() && !cancelSent) {
            dispatchCommand(std::string(kCmdCancel));
            cancelSent = true;
        }
    }
}

// Saves the snapshot through the same command the page uses.
int saveSnapshot(const Options& o, const std::string& snapshotJson) {
    const std::string tag = snapshotTag(o.label);
    const std::string name = "scan_" + localStamp() + (tag.empty() ? "" : "_" + tag) + ".json";
    dispatchCommand(buildSaveCommand(name, snapshotJson));
    std::string m;
    while (queue().pop(m, std::chrono::milliseconds(0))) {
        const auto j = parseJson(m);
        if (!j)
            continue;
        if (j->getString("t") == "saved") {
            err("Снимок сохранён: " + joinPath(scansPath(), name) + "\n");
            return kExitOk;
        }
        if (j->getString("t") == "msg") {
            err("tarnveil-cli: " + toPrintable(j->getString("text")) + "\n");
            return kExitSaveFailed;
        }
    }
    err("tarnveil-cli: снимок не сохранён\n");
    return kExitSaveFailed;
}

// Runs one command to its `done`, handing every message to the run's view.
void collect(RunView& run, const std::string& command) {
    runAndCollect(command, [&](const Json& j, const std::string& raw) { run.onMessage(j, raw); });
    run.finish();
}

// The exit code of a finished run, after saving its snapshot when asked.
int conclude(const RunView& run, const Options& o) {
    if (o.save && saveSnapshot(o, run.snapshot(o.label, utcIsoNow())) != kExitOk)
        return kExitSaveFailed;
    return run.anyPassed() ? kExitOk : kExitNothingPassed;
}

// The scan command of the front's one run (id 1). The numbers are read as
// the dispatcher reads the page's fields.
std::string scanCommand(const std::string& mode, const std::string& timeout,
                        const std::string& threads, bool http, bool xfer, const std::string& jobs,
                        const std::string& hello, int repeat, bool dnsCheck = false) {
    ScanRequest r;
    r.run = 1;
    r.mode = mode;
    r.timeoutMs = readInt32(timeout);
    r.threads = readInt32(threads);
    r.http = http;
    r.jobs = jobs;
    r.xfer = xfer;
    r.dnsCheck = dnsCheck;
    r.hello = parseHelloMode(hello);
    r.repeat = repeat;
    return buildScanCommand(r);
}

} // namespace

void requestInterrupt() {
    gInterrupted.store(true);
    cancelFlag().store(true);
}

std::string snapshotTag(const std::string& label) {
    std::string tag;
    bool inRun = false;
    for (const char ch : label) {
        const bool keep = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') ||
                          (ch >= '0' && ch <= '9') || ch == '_' || ch == '-';
        if (keep) {
            tag += ch;
            inRun = false;
        } else if (!inRun) {
            tag += '_';
            inRun = true;
        }
    }
    const size_t b = tag.find_first_not_of('_');
    if (b == std::string::npos)
        return {};
    const size_t e = tag.find_last_not_of('_');
    tag = tag.substr(b, e - b + 1);
    if (tag.size() > 24)
        tag.resize(24);
    return tag;
}

int runCli(const std::vector<std::string>& args) {
    prepareConsole();
    // The language first, so that even an error in the arguments is worded in it.
    setLanguage(defaultLanguage());
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--lang")
            continue;
        const auto l = i + 1 < args.size() ? parseLang(args[i + 1]) : std::nullopt;
        if (!l) {
            err("tarnveil-cli: --lang: ожидалось ru или en\nСправка: tarnveil-cli --help\n");
            return kExitUsage;
        }
        setLanguage(*l);
    }
    Options o;
    if (auto e = parseArgs(args, o)) {
        err("tarnveil-cli: " + e->text + "\nСправка: tarnveil-cli --help\n");
        return kExitUsage;
    }
    if (o.help) {
        out(language() == Lang::En ? kUsageEn : kUsage);
        return kExitOk;
    }
    if (o.version) {
        out("tarnveil-cli " + std::string(kVersion) + "\n");
        return kExitOk;
    }
    if (o.command == "report" || o.command == "compare") {
        const auto a = loadSnapshot(o.file);
        if (!a)
            return kExitUsage;
        if (o.command == "report") {
            outLines(snapshotReport(a->json, a->when));
            return kExitOk;
        }
        const auto b = loadSnapshot(o.file2);
        if (!b)
            return kExitUsage;
        outLines(compareReport(a->json, a->name, a->when, b->json, b->name, b->when));
        return kExitOk;
    }

    // Inputs first: bad input ends the run before anything is started.
    std::string listText;
    std::string ipsText, snisText;
    if (o.command == "domains" || o.command == "scan") {
        if (o.haveFile) {
            auto t = readInputOrSay(o.file);
            if (!t)
                return kExitUsage;
            listText = *t;
        } else if (o.command == "domains") {
            listText = std::string(embeddedList("domains"));
        } else {
            auto t = readInput("-");
            listText = t ? *t : std::string();
        }
    } else if (o.command == "matrix") {
        auto a = readInputOrSay(o.ips);
        if (!a)
            return kExitUsage;
        auto b = readInputOrSay(o.snis);
        if (!b)
            return kExitUsage;
        ipsText = *a;
        snisText = *b;
    }

    setLogEcho(false);
    setScansPath(joinPath(executableDir(), "scans"));
    setUiSink([](std::string m) { queue().push(std::move(m)); });
    installInterruptHandler();

    Renderer r(o.json, stdoutIsTerminal(), stderrIsTerminal(), std::getenv("NO_COLOR") != nullptr);
    const std::string timeout =
        o.timeout.empty() ? (o.command == "basics" ? "3500" : "4000") : o.timeout;
    const std::string threads = o.threads.empty() ? (o.command == "scan" ? "8" : "16") : o.threads;
    // As on the page: on by default; it reads on after the HTTP answer, so
    // without the HTTP check it runs only when asked for (and in the matrix).
    const bool xfer = o.xfer.value_or(o.command == "matrix" || o.http);
    r.setXferColumn(xfer && o.command != "basics");

    if (o.command == "domains") {
        auto rows = parseDomainList(listText);
        if (rows.empty()) {
            err("tarnveil-cli: в списке нет ни одного домена\n");
            return kExitUsage;
        }
        if (rows.size() > kMaxJobs) {
            droppedNotice(rows.size() - kMaxJobs);
            rows.resize(kMaxJobs);
        }
        std::vector<std::string> jobs;
        for (const auto& row : rows)
            jobs.push_back(row.host + "|" + row.host);
        DomainRun run(r, rows, o.hello != "lib");
        collect(run, scanCommand("domains", timeout, threads, o.http, xfer, joinWith(jobs, '\n'),
                                 o.hello, o.repeat, o.dnsCheck));
        return conclude(run, o);
    }
    if (o.command == "matrix") {
        const auto ips = parseMatrixLines(ipsText);
        const auto snis = parseMatrixLines(snisText);
        if (ips.empty() || snis.empty()) {
            err("tarnveil-cli: Нужны и IP, и SNI\n");
            return kExitUsage;
        }
        if (ips.size() * snis.size() > 3000) {
            err("tarnveil-cli: Слишком много комбинаций (макс. 3000)\n");
            return kExitUsage;
        }
        // "?" stands for a made-up name, fresh for each run.
        const bool wantRandom = std::find(snis.begin(), snis.end(), kRandomSni) != snis.end();
        const std::string random = wantRandom ? randomSniName() : std::string();
        std::vector<std::string> jobs;
        for (const auto& ip : ips)
            for (const auto& sni : snis)
                jobs.push_back(ip + "|" +
                               (sni == "-"          ? std::string()
                                : sni == kRandomSni ? random
                                                    : sni));
        std::set<std::string> white;
        for (const auto& w : parseMatrixLines(std::string(embeddedList("white_base"))))
            white.insert(w);
        MatrixRun run(r, ips, snis, white, random);
        collect(run, scanCommand("matrix", timeout, threads, false, xfer, joinWith(jobs, '\n'),
                                 o.hello, o.repeat));
        return conclude(run, o);
    }
    if (o.command == "basics") {
        BasicsRun run(r);
        collect(run, buildBasicsCommand(1, readInt32(timeout)));
        return conclude(run, o);
    }
    // scan: raw host|sni lines, parsed by the bridge exactly as the page's jobs are.
    if (const size_t all = parseJobList(listText, SIZE_MAX).size(); all > kMaxJobs)
        droppedNotice(all - kMaxJobs);
    ScanRun run(r, o.hello != "lib");
    collect(run, scanCommand("scan", timeout, threads, o.http, xfer, listText, o.hello, o.repeat,
                             o.dnsCheck));
    if (run.results() == 0 && !run.cancelled()) {
        err("tarnveil-cli: в списке нет ни одного задания\n");
        return kExitUsage;
    }
    return conclude(run, o);
}

} // namespace tv::cli
