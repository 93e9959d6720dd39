#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>

// The decorative pictures and the window icon, drawn rather than shipped.
[[nodiscard]] QPixmap pitchPicture(QSize size);
[[nodiscard]] QIcon applicationIcon();
