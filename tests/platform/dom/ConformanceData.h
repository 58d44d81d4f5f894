#pragma once
// Where the conformance tests find their data, and what they say when it is
// not there. The folder is the CMake cache variable HC_CONFORMANCE_DIR; a
// fresh clone without it skips these tests instead of failing them.

#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <string>
#include <vector>

// The path of data file `name` inside the conformance folder.
inline QString ConformanceFile(const char* name)
{
    return QStringLiteral(HC_CONFORMANCE_DIR "/") + QString::fromLatin1(name);
}

// Empty when data file `name` is present; otherwise the reason to skip,
// naming the file, the folder looked in and how to point at another one.
inline std::string ConformanceDataMissing(const char* name)
{
    if (QFileInfo(ConformanceFile(name)).isFile())
        return {};
    return std::string("conformance data not found: ") + name + " is not in " HC_CONFORMANCE_DIR
           "; put innertext.json and serialization.json there, or configure with "
           "-DHC_CONFORMANCE_DIR=/path/to/folder holding them";
}

// The number of `cases` that `passes` accepts. The tally and the ids of the
// cases that do not pass are printed for the record, under `what`.
template <class Case, class Passes>
int CountPasses(const char* what, const std::vector<Case>& cases, Passes passes)
{
    int passed = 0;
    QStringList failing;
    for (const Case& c : cases) {
        if (passes(c))
            ++passed;
        else
            failing << QString::number(c.id);
    }
    std::printf("%s conformance: %d/%zu passed; not passing: %s\n", what, passed, cases.size(),
                failing.join(' ').toUtf8().constData());
    return passed;
}

#define HC_SKIP_WITHOUT_CONFORMANCE_DATA(name)                          \
    do {                                                                \
        const std::string missing_ = ConformanceDataMissing(name);      \
        if (!missing_.empty())                                          \
            GTEST_SKIP() << missing_;                                   \
    } while (false)
