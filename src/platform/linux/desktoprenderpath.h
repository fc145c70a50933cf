#pragma once

#include <QByteArrayView>
#include <QString>

namespace lumivale {

// How the desktop windows get their frames out of mpv.
enum class DesktopRenderPath {
    OpenGL,   // mpv's OpenGL renderer, with hardware decoding where it is safe
    Software, // mpv's software renderer, put on the window through shared memory
};

// The choice from its inputs: `forced` is LUMIVALE_RENDER ("gl" or "sw";
// anything else chooses), `openGLRenderer` the GL_RENDERER string (empty when
// there is no OpenGL). Where OpenGL is itself software (llvmpipe, softpipe,
// swrast) drawing through it costs far more than mpv's software renderer.
DesktopRenderPath chooseDesktopRenderPath(QByteArrayView forced, const QString &openGLRenderer);

// The path of this process, chosen once on first use. Main thread (the first
// call may make an OpenGL context to read the renderer's name).
DesktopRenderPath desktopRenderPath();
// The same in one line for the status: "software (llvmpipe (LLVM 15.0.6, 256
// bits))", "opengl (forced)".
QString desktopRenderDescription();

} // namespace lumivale
