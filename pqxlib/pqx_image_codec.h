#pragma once
// Makes the graphic loader (support/graphic_loader.h) read still images and
// surfaces save them (ISurfaceEx::SavePQX). The loader sits below this
// library and cannot reach it by itself; call this once at start-up in any
// program that wants still images. Calling it again does no harm.

namespace _pqxlib_ {

void InstallPQXImageCodec();

}  // namespace _pqxlib_
