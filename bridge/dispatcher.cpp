#include "bridge/dispatcher.h"

#include <vector>

#include "base/log.h"
#include "base/paths.h"
#include "base/text.h"
#include "bridge/host_hooks.h"
#include "bridge/protocol.h"
#include "bridge/runs.h"
#include "bridge/settings.h"
#include "bridge/state.h"
#include "bridge/storage.h"
#include "bridge/ui_sink.h"

namespace tv {
namespace {

constexpr std::string_view kBadName = "Недопустимое имя файла";
constexpr std::string_view kWriteFailed = "Не удалось записать файл";
constexpr std::string_view kReadFailed = "Не удалось прочитать файл ";
constexpr std::string_view kCopied = "Скопировано в буфер обмена";
constexpr std::string_view kCopyFailed = "Не удалось скопировать в буфер обмена";
constexpr std::string_view kSettingsFailed = "Не удалось сохранить настройки";

using Fields = std::vector<std::string_view>;

void onReady(std::string_view, const Fields&) {
    postUiMessage(buildHelloWithLang(scansPath(), storedLang()));
    postFileList();
}

void onScan(std::string_view, const Fields& f) {
    using F = ScanField;
    const int32_t runId = readInt32(f[F::run]);
    ProbeOptions options;
    options.timeoutMs = boundScanTimeout(readInt32(f[F::timeout]));
    options.http = readFlag(f[F::http]);
    options.xfer = readFlag(fieldAt(f, F::xfer));
    options.dnsCheck = readFlag(fieldAt(f, F::dnscheck));
    options.hello = parseHelloMode(fieldAt(f, F::hello));
    // A missing or unreadable count reads as 0 and gives the one try of old.
    options.repeat = boundRepeat(readInt32(fieldAt(f, F::repeat)));
    const int32_t workers = readInt32(f[F::threads]);
    std::vector<ProbeJob> jobs = parseJobList(f[F::jobs]);
    std::string line = "Скан #" + std::to_string(runId) + " режим=";
    line += f[F::mode];
    line += " целей=" + std::to_string(jobs.size());
    logLine(line);
    startScan(runId, std::move(jobs), options, workers);
}

void onBasics(std::string_view, const Fields& f) {
    const int32_t runId = readInt32(f[BasicsField::run]);
    const int32_t timeoutMs = boundBasicsTimeout(readInt32(f[BasicsField::timeout]));
    std::string line = "Базовые проверки сети #";
    line += f[BasicsField::run]; // as the page sent it
    logLine(line);
    startBasics(runId, timeoutMs);
}

void onCancel(std::string_view, const Fields&) {
    cancelFlag().exchange(true);
    logLine("Скан отменён пользователем");
}

void onSave(std::string_view command, const Fields& f) {
    const std::string_view name = f[SaveField::name];
    if (!isValidSnapshotName(name)) {
        postNotice(kBadName);
        return;
    }
    makeDir(scansPath());
    if (!writeTextFile(snapshotPath(name), commandRest(command, f, SaveField::text))) {
        postNotice(kWriteFailed);
        return;
    }
    std::string line = "Снимок сохранён: ";
    line += name;
    logLine(line);
    postUiMessage(buildSaved(name));
    postFileList();
}

void onList(std::string_view, const Fields&) {
    postFileList();
}

void onLoad(std::string_view, const Fields& f) {
    const std::string_view name = f[NameField::name];
    std::string text;
    if (isValidSnapshotName(name) && readTextFile(snapshotPath(name), text)) {
        postUiMessage(buildFile(name, text));
        return;
    }
    std::string notice(kReadFailed);
    notice += name;
    postNotice(notice);
}

void onDelete(std::string_view, const Fields& f) {
    if (isValidSnapshotName(f[NameField::name]))
        deleteFile(snapshotPath(f[NameField::name]));
    postFileList();
}

void onCopy(std::string_view command, const Fields& f) {
    const auto& setClipboard = hostHooks().setClipboardText;
    // Only a clipboard that really took the text is reported as copied.
    const bool ok =
        setClipboard && setClipboard(toValidUtf8(commandRest(command, f, CopyField::text)));
    postNotice(ok ? kCopied : kCopyFailed);
}

// An unknown word is ignored like an unknown command.
void onLang(std::string_view, const Fields& f) {
    const std::string_view lang = f[LangField::lang];
    if (isKnownLang(lang) && !storeLang(lang))
        postNotice(kSettingsFailed);
}

void onOpenFolder(std::string_view, const Fields&) {
    makeDir(scansPath());
    if (const auto& open = hostHooks().openFolder)
        open(scansPath());
}

struct CommandEntry {
    std::string_view name;
    size_t minFields; // the name included
    void (*handler)(std::string_view command, const Fields& fields);
};

// A name outside the table, or fewer fields than it needs, is ignored.
constexpr CommandEntry kCommands[] = {
    {"ready", 1, onReady},
    {kCmdScan, ScanField::count, onScan},
    {kCmdBasics, BasicsField::count, onBasics},
    {kCmdCancel, 1, onCancel},
    {kCmdSave, SaveField::count, onSave},
    {"list", 1, onList},
    {kCmdLoad, NameField::count, onLoad},
    {"delete", NameField::count, onDelete},
    {"copy", CopyField::count, onCopy},
    {"openfolder", 1, onOpenFolder},
    {kCmdLang, LangField::count, onLang},
};

} // namespace

void dispatchCommand(const std::string& text) {
    const Fields f = splitCommand(text);
    for (const CommandEntry& c : kCommands) {
        if (f[0] == c.name) {
            if (f.size() >= c.minFields)
                c.handler(text, f);
            return;
        }
    }
}

} // namespace tv
