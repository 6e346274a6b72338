// Moved to widgets/; this forwarder keeps the links pane building until its includes point there.
#pragma once

#include "widgets/pane_kit.h"
