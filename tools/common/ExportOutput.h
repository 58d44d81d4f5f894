#pragma once
// Where the export tool's bytes go: a stream (standard output), or a file
// that is replaced only when the export is complete.

#include <QSaveFile>
#include <QString>

#include <iosfwd>
#include <optional>
#include <string_view>

class QIODevice;

namespace tools {

class ExportOutput {
public:
    // Writes to `stream`, which must outlive this object.
    explicit ExportOutput(std::ostream& stream);
    // Writes to `path` (from the current directory) through a temporary file
    // beside it (QSaveFile): FILE itself is replaced at Commit, in one
    // rename, and is left as it was (or absent) when Commit is not reached
    // or fails, or the process is killed before it.
    explicit ExportOutput(const QString& path);
    ExportOutput(const ExportOutput&) = delete;
    ExportOutput& operator=(const ExportOutput&) = delete;

    // Opens the temporary file (a stream needs nothing). False with
    // Problem() set when it cannot be made (a missing or unwritable folder).
    bool Open();

    // Appends `bytes`. False with Problem() set on a write error; the
    // export then stops without Commit.
    bool Write(std::string_view bytes);

    // The open temporary file, for writers that need a device (the
    // workbook); nullptr for a stream.
    QIODevice* Device();

    // Flushes a stream, or puts the file in place of FILE. False with
    // Problem() set when that failed (nothing replaced FILE then).
    bool Commit();

    // Set after a false return: "cannot write "PATH": reason" or "cannot
    // write standard output".
    const QString& Problem() const { return problem_; }

private:
    bool Failed(const QString& reason);

    std::ostream* stream_ = nullptr;
    std::optional<QSaveFile> file_;  // engaged when writing to a file
    QString problem_;
};

}  // namespace tools
