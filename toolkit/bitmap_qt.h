// Inside the toolkit only: the Qt image behind a TBitmap.
#pragma once

#include "toolkit/bitmap.h"

#include <QImage>

// The image as it is to be shown: palette images with their palette applied.
QImage displayImage(const TBitmap& bitmap);
