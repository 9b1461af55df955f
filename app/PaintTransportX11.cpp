#include "PaintTransport.h"

#include <QByteArray>
#include <QtGlobal>

void choosePaintTransport()
{
    // Through a memory segment shared with the X server, the toolkit must ask
    // the server for a round trip before it paints again where it painted
    // last, lest the server read the segment as it changes. The bars are
    // repainted twenty times a second during a run, always in the same place,
    // and each of those waits held the run; the window is small enough for
    // its pictures to go down the connection itself. Whoever set the choice
    // in the environment keeps it.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", QByteArrayLiteral("1"));
}
