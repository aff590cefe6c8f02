// How the host process treats the memory it frees.
#pragma once

namespace simhost {

// Keeps large freed blocks in the process for the next frame instead of handing them back to the system.
// A frame allocates and frees the same large buffers every time (the host's worlds, the GL driver's textures,
// the effect's scratch images); when each of them is a fresh mapping, every frame pays for the system
// zeroing its pages again, one page fault at a time, which costs more than the rendering at small radii. A
// long-running host keeps its memory instead, as this does. Applied once per process; later calls do nothing.
void KeepFreedMemoryForReuse();

}  // namespace simhost
