#include "Resources.h"

#include <QIcon>
#include <QString>

#include "SorvantaVersion.h"

// The resources live in a static library, whose registration the linker
// would drop unless something refers to it: this function does.
static void RegisterResources() { Q_INIT_RESOURCE(sorvanta); }

namespace sorvanta {

QIcon ApplicationIcon() {
  static const bool registered = (RegisterResources(), true);
  static_cast<void>(registered);
  return QIcon(QStringLiteral(":/sorvanta/sorvanta.png"));
}

QString ApplicationVersion() { return QStringLiteral(SORVANTA_VERSION); }

}  // namespace sorvanta
