#pragma once

class QIcon;
class QString;

namespace sorvanta {

// The application icon, 32 x 32, from the resources compiled into the
// program.
QIcon ApplicationIcon();

// The program's version, from the build's project version (1.0.0.1).
QString ApplicationVersion();

}  // namespace sorvanta
