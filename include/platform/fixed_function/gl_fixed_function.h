#pragma once

// The fixed-function subset of OpenGL ES 1.1 that our drawing code uses,
// served on OpenGL ES 2.0 by FixedFunctionPipeline. Code inside namespace
// Spectrafox includes this header instead of the ES 1.1 one: the functions
// below carry the ES 1.1 names and signatures and hide the global ones of
// the same name, and every other GL call is native ES 2.0 (<GLES2/gl2.h>).
//
// The subset, for the renderer's context on the main thread only:
// - glMatrixMode (GL_PROJECTION, GL_MODELVIEW), glLoadIdentity,
//   glMultMatrixf, glPushMatrix, glPopMatrix, glTranslatef, glRotatef. Each
//   stack holds MatrixStack::kMaxDepth matrices; a push on a full stack and a
//   pop of the last matrix are ignored.
// - Client arrays: glEnableClientState/glDisableClientState and
//   glVertexPointer (GL_VERTEX_ARRAY), glColorPointer (GL_COLOR_ARRAY),
//   glTexCoordPointer (GL_TEXTURE_COORD_ARRAY), read at draw time from the
//   pointer set last; glGetPointerv for their pointers; glColor4f for the
//   colour used while the colour array is off.
// - glEnable/glDisable(GL_TEXTURE_2D): texturing with texture unit 0 in the
//   default environment, modulate (texel times colour). Other capabilities
//   (blending, scissor) pass through to ES 2.0.
// - glDrawArrays with the state above. Triangle strips are batched (see
//   FixedFunctionPipeline): the calls below that change state, textures or
//   the framebuffer, or read it, draw the batch first and then pass
//   through to ES 2.0. Any other call of this context that does so must
//   be preceded by FixedFunctionPipeline::instance().flush(); so must a
//   switch to another context, a fence and a swap.
// - glShadeModel and glHint(GL_PERSPECTIVE_CORRECTION_HINT) are accepted and
//   do nothing: colours are always interpolated (every draw of ours gives
//   its vertices one colour) and ES 2.0 is always perspective-correct.
// Not served: lighting, fog, alpha test, other texture environments, texture
// matrices, normal arrays. A texture that is incomplete samples as opaque
// black, as ES 2.0 defines, where ES 1.1 would draw as if texturing were off.

#include <GLES2/gl2.h>

#ifndef GL_MODELVIEW
#define GL_MODELVIEW 0x1700
#endif
#ifndef GL_PROJECTION
#define GL_PROJECTION 0x1701
#endif
#ifndef GL_VERTEX_ARRAY
#define GL_VERTEX_ARRAY 0x8074
#endif
#ifndef GL_COLOR_ARRAY
#define GL_COLOR_ARRAY 0x8076
#endif
#ifndef GL_TEXTURE_COORD_ARRAY
#define GL_TEXTURE_COORD_ARRAY 0x8078
#endif
#ifndef GL_VERTEX_ARRAY_POINTER
#define GL_VERTEX_ARRAY_POINTER 0x808E
#endif
#ifndef GL_COLOR_ARRAY_POINTER
#define GL_COLOR_ARRAY_POINTER 0x8090
#endif
#ifndef GL_TEXTURE_COORD_ARRAY_POINTER
#define GL_TEXTURE_COORD_ARRAY_POINTER 0x8092
#endif
#ifndef GL_FLAT
#define GL_FLAT 0x1D00
#endif
#ifndef GL_SMOOTH
#define GL_SMOOTH 0x1D01
#endif
#ifndef GL_PERSPECTIVE_CORRECTION_HINT
#define GL_PERSPECTIVE_CORRECTION_HINT 0x0C50
#endif

namespace Spectrafox {

void glMatrixMode(GLenum mode);
void glLoadIdentity();
void glMultMatrixf(const GLfloat* m);
void glPushMatrix();
void glPopMatrix();
void glTranslatef(GLfloat x, GLfloat y, GLfloat z);
void glRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z);

void glEnableClientState(GLenum array);
void glDisableClientState(GLenum array);
void glVertexPointer(GLint size, GLenum type, GLsizei stride, const void* pointer);
void glColorPointer(GLint size, GLenum type, GLsizei stride, const void* pointer);
void glTexCoordPointer(GLint size, GLenum type, GLsizei stride, const void* pointer);
void glGetPointerv(GLenum pname, void** params);
void glColor4f(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha);

void glEnable(GLenum cap);
void glDisable(GLenum cap);
void glDrawArrays(GLenum mode, GLint first, GLsizei count);
void glShadeModel(GLenum mode);
void glHint(GLenum target, GLenum mode);

void glBindTexture(GLenum target, GLuint texture);
void glDeleteTextures(GLsizei n, const GLuint* textures);
void glTexImage2D(GLenum target, GLint level, GLint internalformat, GLsizei width, GLsizei height,
                  GLint border, GLenum format, GLenum type, const void* pixels);
void glTexSubImage2D(GLenum target, GLint level, GLint xoffset, GLint yoffset, GLsizei width,
                     GLsizei height, GLenum format, GLenum type, const void* pixels);
void glTexParameteri(GLenum target, GLenum pname, GLint param);
void glTexParameterf(GLenum target, GLenum pname, GLfloat param);
void glBlendFunc(GLenum sfactor, GLenum dfactor);
void glViewport(GLint x, GLint y, GLsizei width, GLsizei height);
void glUseProgram(GLuint program);
void glClear(GLbitfield mask);
void glReadPixels(GLint x, GLint y, GLsizei width, GLsizei height, GLenum format, GLenum type,
                  void* pixels);
void glFlush();
void glFinish();

} // namespace Spectrafox
