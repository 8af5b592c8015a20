// korvofur: the whole exported interface of libkorvofur.
//
// A host includes this one header. Exported names live in the global
// namespace; the host-service stand-ins live in korvo_host.
#pragma once

// Host services
#include "host/korvo_string.h"
#include "host/random48.h"
#include "host/korvo_image.h"
#include "host/image_library.h"
#include "host/iff_image.h"

// Foundation
#include "foundation/fur_exception.h"

// Image files
#include "imagefile/image_file.h"
#include "imagefile/rla.h"
#include "imagefile/sgi.h"
#include "imagefile/pic.h"
#include "imagefile/png_file.h"
