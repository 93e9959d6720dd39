#pragma once

#include <QPixmap>

// The print window's button pictures, drawn rather than shipped.
[[nodiscard]] QPixmap printerPicture();   // 27 x 27
[[nodiscard]] QPixmap magnifierPicture(); // 16 x 16
