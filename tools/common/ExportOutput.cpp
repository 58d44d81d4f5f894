#include "tools/common/ExportOutput.h"

#include <ostream>

namespace tools {

ExportOutput::ExportOutput(std::ostream& stream) : stream_(&stream) {}

ExportOutput::ExportOutput(const QString& path)
{
    file_.emplace(path);
    // A file that cannot be replaced in one rename is not written directly:
    // the old file must survive a failed export.
    file_->setDirectWriteFallback(false);
}

bool ExportOutput::Open()
{
    if (!file_)
        return true;
    if (!file_->open(QIODevice::WriteOnly))
        return Failed(file_->errorString());
    return true;
}

bool ExportOutput::Write(std::string_view bytes)
{
    if (!file_) {
        stream_->write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return *stream_ || Failed(QString());
    }
    if (file_->write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()))
        return Failed(file_->errorString());
    return true;
}

QIODevice* ExportOutput::Device()
{
    return file_ ? &*file_ : nullptr;
}

bool ExportOutput::Commit()
{
    if (!file_) {
        stream_->flush();
        return *stream_ || Failed(QString());
    }
    // A write error seen by QSaveFile after the last Write (on flush) makes
    // commit() fail and drop the temporary file.
    if (!file_->commit())
        return Failed(file_->errorString());
    return true;
}

bool ExportOutput::Failed(const QString& reason)
{
    problem_ = file_ ? QStringLiteral("cannot write \"%1\": %2").arg(file_->fileName(), reason)
                     : QStringLiteral("cannot write standard output");
    return false;
}

}  // namespace tools
