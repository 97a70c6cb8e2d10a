// Code units of the bytes 0x80 to 0xFF of the table-driven code pages
// (generated into codectables.cpp by tools/gen_codectables.py).
#pragma once

#include "listings/codecs.h"

extern const TCustomSingleByteCodec::TByteTable Windows1252High;
extern const TCustomSingleByteCodec::TByteTable Windows1255High;
