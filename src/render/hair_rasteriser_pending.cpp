#include "render/camera.h"

// Placeholder so the library links; the hair rasteriser replaces this file.
void hair_camera::zbuff_hair(control_hair*, hair_state*) {}
