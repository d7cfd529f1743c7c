#include "ChosenFile.h"

#include "LocalText.h"

#include <dirent.h>

#include <memory>

namespace ui {
namespace {
struct CloseDir {
    void operator()(DIR* folder) const { ::closedir(folder); }
};
} // namespace

std::optional<std::string> ChosenPath(const QString& chosen) {
    const QChar replacement(QChar::ReplacementCharacter);
    if (!chosen.contains(replacement))
        return ToLocal(chosen);
    std::string path;
    const QStringList parts = chosen.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0)
            path += '/';
        const QString& part = parts[i];
        if (!part.contains(replacement)) {
            path += ToLocal(part);
            continue;
        }
        // Of the folder's entries, those that read as the name shown.
        std::vector<std::string> matches;
        const std::unique_ptr<DIR, CloseDir> folder(::opendir(path.empty() ? "." : path.c_str()));
        while (folder) {
            const dirent* entry = ::readdir(folder.get());
            if (!entry)
                break;
            if (FromLocal(entry->d_name) == part)
                matches.emplace_back(entry->d_name);
        }
        if (matches.size() > 1)
            return std::nullopt;
        // None: a new name typed as it reads.
        path += matches.empty() ? ToLocal(part) : matches.front();
    }
    return path;
}

std::string AskForFile(QWidget* parent, const FileDialogRequest& request) {
    const QString chosen = Prompts().GetFileName(parent, request);
    if (chosen.isEmpty())
        return {};
    if (std::optional<std::string> path = ChosenPath(chosen))
        return *path;
    ShowMessage(parent,
                QStringLiteral("Several files are named %1 as far as this window can show their names. Rename the "
                               "file, or choose it by another name.")
                    .arg(chosen),
                MessageIcon::warning);
    return {};
}

} // namespace ui
