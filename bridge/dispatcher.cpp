#include "bridge/dispatcher.h"

#include <vector>

#include "app/log.h"
#include "app/paths.h"
#include "bridge/host_hooks.h"
#include "bridge/protocol.h"
#include "bridge/runs.h"
#include "bridge/state.h"
#include "bridge/storage.h"
#include "bridge/ui_sink.h"
#include "probe/text.h"

namespace tv {
namespace {

constexpr std::string_view kBadName = "Недопустимое имя файла";
constexpr std::string_view kWriteFailed = "Не удалось записать файл";
constexpr std::string_view kReadFailed = "Не удалось прочитать файл ";
constexpr std::string_view kCopied = "Скопировано в буфер обмена";
constexpr std::string_view kCopyFailed = "Не удалось скопировать в буфер обмена";

using Fields = std::vector<std::string_view>;

void onScan(const Fields& f) {
    const int32_t runId = readInt32(f[1]);
    const int32_t timeoutMs = boundScanTimeout(readInt32(f[3]));
    const int32_t workers = readInt32(f[4]);
    const bool doHttp = readFlag(f[5]);
    std::vector<ProbeJob> jobs = parseJobList(f[6]);
    std::string line = "Скан #" + std::to_string(runId) + " режим=";
    line += f[2];
    line += " целей=" + std::to_string(jobs.size());
    logLine(line);
    startScan(runId, std::move(jobs), timeoutMs, workers, doHttp);
}

void onBasics(const Fields& f) {
    const int32_t runId = readInt32(f[1]);
    const int32_t timeoutMs = boundBasicsTimeout(readInt32(f[2]));
    std::string line = "Базовые проверки сети #";
    line += f[1]; // as the page sent it
    logLine(line);
    startBasics(runId, timeoutMs);
}

void onSave(std::string_view command, const Fields& f) {
    const std::string_view name = f[1];
    if (!isValidSnapshotName(name)) {
        postNotice(kBadName);
        return;
    }
    makeDir(scansPath());
    if (!writeTextFile(snapshotPath(name), commandRest(command, f, 2))) {
        postNotice(kWriteFailed);
        return;
    }
    std::string line = "Снимок сохранён: ";
    line += name;
    logLine(line);
    postUiMessage(buildSaved(name));
    postFileList();
}

void onLoad(const Fields& f) {
    const std::string_view name = f[1];
    std::string text;
    if (isValidSnapshotName(name) && readTextFile(snapshotPath(name), text)) {
        postUiMessage(buildFile(name, text));
        return;
    }
    std::string notice(kReadFailed);
    notice += name;
    postNotice(notice);
}

void onDelete(const Fields& f) {
    if (isValidSnapshotName(f[1]))
        deleteFile(snapshotPath(f[1]));
    postFileList();
}

void onCopy(std::string_view command, const Fields& f) {
    const auto& setClipboard = hostHooks().setClipboardText;
    // Only a clipboard that really took the text is reported as copied.
    const bool ok = setClipboard && setClipboard(toValidUtf8(commandRest(command, f, 1)));
    postNotice(ok ? kCopied : kCopyFailed);
}

void onOpenFolder() {
    makeDir(scansPath());
    if (const auto& open = hostHooks().openFolder)
        open(scansPath());
}

} // namespace

void postNotice(std::string_view text) { postUiMessage(buildMsg(text)); }

void dispatchCommand(const std::string& text) {
    const Fields f = splitCommand(text);
    const std::string_view name = f[0];
    const size_t n = f.size();
    if (name == "ready") {
        postUiMessage(buildHello(scansPath()));
        postFileList();
    } else if (name == "scan" && n >= 7) {
        onScan(f);
    } else if (name == "basics" && n >= 3) {
        onBasics(f);
    } else if (name == "cancel") {
        cancelFlag().exchange(true);
        logLine("Скан отменён пользователем");
    } else if (name == "save" && n >= 3) {
        onSave(text, f);
    } else if (name == "list") {
        postFileList();
    } else if (name == "load" && n >= 2) {
        onLoad(f);
    } else if (name == "delete" && n >= 2) {
        onDelete(f);
    } else if (name == "copy" && n >= 2) {
        onCopy(text, f);
    } else if (name == "openfolder") {
        onOpenFolder();
    }
}

} // namespace tv
