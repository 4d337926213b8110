// The platform layer's interface used to be this one header; it is now one
// header per subsystem beside it, and each file includes those it uses
// (scripts/check-platform-includes keeps it so). This header only gathers
// them, for code written against the single header.
#pragma once

#include "platform/bitmaps.h"
#include "platform/console.h"
#include "platform/fail_inject.h"
#include "platform/files.h"
#include "platform/fonts.h"
#include "platform/handles.h"
#include "platform/heaps.h"
#include "platform/libraries.h"
#include "platform/pictures.h"
#include "platform/png_encode.h"
#include "platform/threads.h"
