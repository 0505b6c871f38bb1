// SPDX-License-Identifier: MIT
#include "ui/user_texts.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include "settings/settings_file.h"

namespace zorvek::ui {
namespace {

using settings::SaveStep;

// The system's own words for an error number, in the user's language.
std::string reason(int err) { return std::system_category().message(err); }

std::string couldNotWrite(int err) { return "書き込めませんでした（" + reason(err) + "）。"; }

// Why one display cannot be used, in English, naming the variable that
// chose it.
std::string displayFailureText(const DisplayFailure& failure) {
    switch (failure.step) {
        case DisplayStep::NoneSet: return "neither DISPLAY nor WAYLAND_DISPLAY is set";
        case DisplayStep::XDisplay:
            return "DISPLAY=" + failure.detail + ": the X display cannot be opened";
        case DisplayStep::WaylandCompositor:
            return "WAYLAND_DISPLAY=" + failure.detail + ": no Wayland compositor answers at " +
                   (failure.path.empty() ? "(no XDG_RUNTIME_DIR)" : failure.path);
        case DisplayStep::WaylandPlugin:
            return "WAYLAND_DISPLAY=" + failure.detail +
                   ": Qt's Wayland platform plugin is not installed (Debian package qt6-wayland)";
    }
    return "no display";
}

}  // namespace

std::string saveFailureText(const settings::SaveFailure& failure) {
    const int err = failure.err;
    switch (failure.step) {
        case SaveStep::NoFileName: return "ファイル名がありません: " + failure.path;
        case SaveStep::RefusedLink:
            return "リンク " + failure.path +
                   " は誰でも書き込める共有フォルダにある他のユーザーのリンクなので、たどりません"
                   "。";
        case SaveStep::Examine: return "ファイルを調べられません（" + reason(err) + "）。";
        case SaveStep::NotRegular:
            return failure.path + " はファイルではありません（フォルダなど）。";
        case SaveStep::NotRegularOnOpen: return failure.path + " はファイルではありません。";
        case SaveStep::OpenDenied:
            return "このファイルを書き換える権限がありません。ファイルはそのままです。";
        case SaveStep::Open:
            return "このファイルを書き換えられません（" + reason(err) +
                   "）。ファイルはそのままです。";
        case SaveStep::MakeTemporary:
            return "フォルダ " + failure.path + " にファイルを作れません（" + reason(err) + "）。";
        case SaveStep::SetMode:
            return "新しいファイルの権限を設定できません（" + reason(err) + "）。";
        case SaveStep::WriteNew: return couldNotWrite(err);
        case SaveStep::WriteBesideOld: return couldNotWrite(err) + "元のファイルはそのままです。";
        case SaveStep::Rename: return "ファイルを置き換えられません（" + reason(err) + "）。";
        case SaveStep::WriteRestored: return couldNotWrite(err) + "元の内容に戻しました。";
        case SaveStep::WriteNotRestored:
            return couldNotWrite(err) + "元の内容に戻せず、ファイルが壊れているかもしれません。";
        case SaveStep::CloseInPlace: return couldNotWrite(err);
        case SaveStep::Unexpected:
            if (failure.detail.empty()) return "書き込めませんでした。";
            return "書き込めませんでした（" + failure.detail + "）。";
        case SaveStep::MakeFolder:
            return "フォルダー " + failure.path + " を作れません（" + reason(err) + "）。";
        case SaveStep::TooLong:
            return "設定が長すぎます（" + failure.detail + " バイト。読み込める設定ファイルは " +
                   std::to_string(settings::kSettingsFileMaxBytes) +
                   " バイトまでです）。ファイルはそのままです。";
    }
    return couldNotWrite(err);
}

std::string saveFailedMessage(const std::string& path, const settings::SaveFailure& failure) {
    return "設定を保存できませんでした。\n" + path + "\n" + saveFailureText(failure);
}

std::string converterFailureText(const cp932::ConverterFailure& failure) {
    const bool toCp932 = failure.step == cp932::Conversion::ToCp932;
    return std::string("iconv cannot convert ") + (toCp932 ? "UTF-8 to CP932" : "CP932 to UTF-8") +
           " (the C library's code page converters are not installed)";
}

std::string converterMissingMessage(const cp932::ConverterFailure& failure) {
    return "コードページ932の文字コード変換が使えないため、Zorvekを起動できません。\n" +
           converterFailureText(failure);
}

std::string programFolderUnknownMessage() {
    return "実行ファイルのフォルダーが分からないため、Zorvekを起動できません。\n"
           "(/proc/self/exe cannot be read)";
}

std::string noDisplayMessage(const DisplayChoice& choice) {
    std::string text = "ウィンドウを表示できる画面がないため、Zorvekを起動できません。\n";
    if (!choice.requested.empty()) text += "QT_QPA_PLATFORM=" + choice.requested + "\n";
    bool first = true;
    for (const DisplayFailure& failure : choice.failures) {
        if (!first) text += "\n";
        first = false;
        text += displayFailureText(failure);
    }
    return text;
}

std::string standardErrorLine(const std::string& text) { return "zorvek: " + text + "\n"; }

std::string instanceFailureLine(const InstanceFailure& failure) {
    const std::string notDetected = "; a second start is not detected";
    switch (failure.step) {
        case InstanceStep::NoPrivateFolder:
            return standardErrorLine("no private runtime folder" + notDetected);
        case InstanceStep::OpenFolder:
        case InstanceStep::OpenLock:
            return standardErrorLine("cannot open " + failure.path + notDetected);
        case InstanceStep::Lock:
            return standardErrorLine("cannot lock " + failure.path + notDetected);
        case InstanceStep::NoAnswer:
            return standardErrorLine("already running from this folder, but it does not answer");
        case InstanceStep::Listen:
            return standardErrorLine("cannot listen on " + failure.path + " (" +
                                     std::strerror(failure.err) +
                                     "); a second start cannot show this one");
    }
    return standardErrorLine("a second start is not detected");
}

std::string loadFailureText(const std::string& library, const companion::LoadFailure& failure) {
    using companion::LoadStep;
    const std::string& path = failure.path;
    const std::string refused = "not loading " + library + " with elevated privileges: ";
    switch (failure.step) {
        case LoadStep::Load: return "cannot load " + path + ": " + failure.detail;
        case LoadStep::NoEntry: return "the companion library has no Pinging: " + failure.detail;
        case LoadStep::NoneBeside:
            return "no " + library + " beside the program in " + path +
                   " (with elevated privileges no other copy is used)";
        case LoadStep::NotAbsolute: return refused + "its path is not absolute";
        case LoadStep::ExamineCopy:
        case LoadStep::ExamineResolved:
            return refused + "cannot examine it: " + reason(failure.err);
        case LoadStep::ExamineFolder:
            return refused + "cannot examine " + path + ": " + reason(failure.err);
        case LoadStep::FolderChangeable: return refused + "the user can change the folder " + path;
        case LoadStep::ResolveCopy:
            return refused + "cannot resolve its path: " + reason(failure.err);
        case LoadStep::NotRegular: return refused + path + " is not a regular file";
        case LoadStep::FileChangeable: return refused + "the user can change " + path;
    }
    return "cannot load " + library;
}

std::string loadFailureLine(const std::string& library, const companion::LoadFailure& failure) {
    return std::string(program_invocation_short_name) + ": " + loadFailureText(library, failure) +
           "\n";
}

std::string hostNotConvertedLine(const cp932::ConverterFailure& failure) {
    return "zorvek-probe: cannot convert the host name to code page 932: " +
           converterFailureText(failure) + "\n";
}

}  // namespace zorvek::ui
