// Built only by the test LayersHoldInTheBuild, which expects this file to
// fail to compile: device/ sits below download/, so a device source that
// includes a download header must not build. The first include, of the
// device's own folder, must be found; the second must not.
#include "device/camera_link.h"
#include "download/firmware_image.h"
