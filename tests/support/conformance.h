// Where the public html5lib conformance suite lies beside the checkout (it is not part of the project).
#pragma once

#include <QDir>
#include <QString>
#include <QStringList>

namespace zentaro::test {

// The suite's folder, from ZENTARO_CONFORMANCE_DIR or beside the checkout; empty when it is absent.
inline QString conformanceDir() {
    const QByteArray env = qgetenv("ZENTARO_CONFORMANCE_DIR");
    QStringList candidates;
    if (!env.isEmpty()) candidates << QString::fromLocal8Bit(env);
    candidates << QStringLiteral(ZENTARO_SOURCE_DIR "/../shared/conformance/html5lib-tests")
               << QStringLiteral(ZENTARO_SOURCE_DIR "/../../shared/conformance/html5lib-tests");
    for (const QString& c : candidates)
        if (QDir(c).exists()) return QDir(c).absolutePath();
    return {};
}

// Said when a conformance test is skipped for want of the suite.
inline constexpr const char* kNoConformanceSuite =
    "html5lib-tests not found beside the checkout (../shared/conformance/html5lib-tests); set "
    "ZENTARO_CONFORMANCE_DIR to run the conformance suite";

} // namespace zentaro::test
