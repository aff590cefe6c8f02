// CGL-shaped context API over EGL (filled in with the GL layer).
