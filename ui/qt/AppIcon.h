// The program's icon: a MIDI socket with an arrow into it, drawn at 48, 32 and 16 pixels.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace kv5 {

QPixmap DrawAppIcon(int size);
QIcon AppIcon();

}  // namespace kv5
