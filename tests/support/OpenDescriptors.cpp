#include "tests/support/OpenDescriptors.h"

#include <QDir>
#include <QFileInfo>

namespace quenvar::testing {

int openDescriptorsOf(const QString& device) {
    const QString target = QFileInfo(device).canonicalFilePath();
    int count = 0;
    const QDir descriptors(QStringLiteral("/proc/self/fd"));
    for (const QFileInfo& entry : descriptors.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
        if (entry.symLinkTarget() == target) ++count;
    }
    return count;
}

}  // namespace quenvar::testing
