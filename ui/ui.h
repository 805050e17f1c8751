// The window layer in one include: controls, dialogs, threads and waits, the backend seam.
#pragma once

#include "ui/backend.h"
#include "ui/controls.h"
#include "ui/dialog.h"
#include "ui/message_loop.h"
