#pragma once
// Benchmarks run as the tests do: on the offscreen platform, with private XDG
// folders, so the operator's own settings and database stay untouched.
// Construct one at the top of main, before the application object.

#include <QTemporaryDir>

class PrivateHome {
public:
    PrivateHome()
    {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        if (!dir.isValid())
            return;
        qputenv("XDG_CONFIG_HOME", (dir.path() + "/config").toUtf8());
        qputenv("XDG_DATA_HOME", (dir.path() + "/data").toUtf8());
        // The temporary folder is private (0700), as a runtime folder must be.
        qputenv("XDG_RUNTIME_DIR", dir.path().toUtf8());
    }
    bool isValid() const { return dir.isValid(); }
    QString filePath(const QString& name) const { return dir.filePath(name); }

    QTemporaryDir dir;
};
