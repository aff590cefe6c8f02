// The module exports only the host-facing C functions; everything else is built with hidden visibility.
#pragma once

#define VELLORAN_EXPORT extern "C" __attribute__((visibility("default")))
