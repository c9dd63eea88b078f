#include "platform/QuickLookPreview.h"
