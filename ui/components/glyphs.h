#pragma once
// Two-state button glyphs drawn by the program: black when enabled, grey when disabled.

#include <QIcon>

QIcon StartGlyph();  // right-pointing triangle
QIcon StopGlyph();   // square
