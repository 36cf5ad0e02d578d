#pragma once

#include <QIcon>
#include <QImage>

// The application icon: a token holding a certificate, with a red cross for
// the certificates it removes. Drawn rather than stored, at each size.
namespace AppIcon {

constexpr int kSmallSize = 16;
constexpr int kLargeSize = 32;
constexpr int kExtraSize = 48;

QImage Render(int size);
// All three sizes.
QIcon Load();

}  // namespace AppIcon
