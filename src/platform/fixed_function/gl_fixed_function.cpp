#include "platform/fixed_function/gl_fixed_function.h"

#include "platform/fixed_function/fixed_function_pipeline.h"

namespace Spectrafox {

namespace {

FixedFunctionPipeline& pipeline()
{
    return FixedFunctionPipeline::instance();
}

// The client array whose pointer `pname` asks for.
GLenum arrayOfPointer(GLenum pname)
{
    switch (pname) {
    case GL_VERTEX_ARRAY_POINTER: return GL_VERTEX_ARRAY;
    case GL_COLOR_ARRAY_POINTER: return GL_COLOR_ARRAY;
    case GL_TEXTURE_COORD_ARRAY_POINTER: return GL_TEXTURE_COORD_ARRAY;
    default: return GL_NONE;
    }
}

} // namespace

void glMatrixMode(GLenum mode)
{
    pipeline().selectMatrixMode(mode);
}

void glLoadIdentity()
{
    pipeline().changeCurrentMatrix().loadIdentity();
}

void glMultMatrixf(const GLfloat* m)
{
    pipeline().changeCurrentMatrix().multiply(m);
}

void glPushMatrix()
{
    pipeline().changeCurrentMatrix().push();
}

void glPopMatrix()
{
    pipeline().changeCurrentMatrix().pop();
}

void glTranslatef(GLfloat x, GLfloat y, GLfloat z)
{
    pipeline().changeCurrentMatrix().translate(x, y, z);
}

void glRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z)
{
    pipeline().changeCurrentMatrix().rotate(angle, x, y, z);
}

// The arrays are read on our side at draw time; ES 2.0 gets them when a
// draw is not batched.
void glEnableClientState(GLenum array)
{
    pipeline().setClientArrayEnabled(array, true);
}

void glDisableClientState(GLenum array)
{
    pipeline().setClientArrayEnabled(array, false);
}

void glVertexPointer(GLint size, GLenum type, GLsizei stride, const void* pointer)
{
    pipeline().setClientArrayPointer(GL_VERTEX_ARRAY, size, type, stride, pointer);
}

void glColorPointer(GLint size, GLenum type, GLsizei stride, const void* pointer)
{
    pipeline().setClientArrayPointer(GL_COLOR_ARRAY, size, type, stride, pointer);
}

void glTexCoordPointer(GLint size, GLenum type, GLsizei stride, const void* pointer)
{
    pipeline().setClientArrayPointer(GL_TEXTURE_COORD_ARRAY, size, type, stride, pointer);
}

void glGetPointerv(GLenum pname, void** params)
{
    if (const ClientArray* array = pipeline().clientArray(arrayOfPointer(pname)))
        *params = const_cast<void*>(array->pointer);
}

void glColor4f(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha)
{
    pipeline().setCurrentColor(red, green, blue, alpha);
}

void glEnable(GLenum cap)
{
    if (cap == GL_TEXTURE_2D) {
        pipeline().setTexturing(true);
        return;
    }
    pipeline().flush();
    ::glEnable(cap);
}

void glDisable(GLenum cap)
{
    if (cap == GL_TEXTURE_2D) {
        pipeline().setTexturing(false);
        return;
    }
    pipeline().flush();
    ::glDisable(cap);
}

void glDrawArrays(GLenum mode, GLint first, GLsizei count)
{
    pipeline().draw(mode, first, count);
}

void glShadeModel(GLenum) {}

void glHint(GLenum target, GLenum mode)
{
    if (target != GL_PERSPECTIVE_CORRECTION_HINT)
        ::glHint(target, mode);
}

void glBindTexture(GLenum target, GLuint texture)
{
    pipeline().bindTexture(target, texture);
}

void glDeleteTextures(GLsizei n, const GLuint* textures)
{
    pipeline().flush();
    ::glDeleteTextures(n, textures);
}

void glTexImage2D(GLenum target, GLint level, GLint internalformat, GLsizei width,
                  GLsizei height, GLint border, GLenum format, GLenum type, const void* pixels)
{
    pipeline().flush();
    ::glTexImage2D(target, level, internalformat, width, height, border, format, type, pixels);
}

void glTexSubImage2D(GLenum target, GLint level, GLint xoffset, GLint yoffset, GLsizei width,
                     GLsizei height, GLenum format, GLenum type, const void* pixels)
{
    pipeline().flush();
    ::glTexSubImage2D(target, level, xoffset, yoffset, width, height, format, type, pixels);
}

void glTexParameteri(GLenum target, GLenum pname, GLint param)
{
    pipeline().flush();
    ::glTexParameteri(target, pname, param);
}

void glTexParameterf(GLenum target, GLenum pname, GLfloat param)
{
    pipeline().flush();
    ::glTexParameterf(target, pname, param);
}

void glBlendFunc(GLenum sfactor, GLenum dfactor)
{
    pipeline().flush();
    ::glBlendFunc(sfactor, dfactor);
}

void glViewport(GLint x, GLint y, GLsizei width, GLsizei height)
{
    pipeline().flush();
    ::glViewport(x, y, width, height);
}

void glUseProgram(GLuint program)
{
    pipeline().flush();
    ::glUseProgram(program);
}

void glClear(GLbitfield mask)
{
    pipeline().flush();
    ::glClear(mask);
}

void glReadPixels(GLint x, GLint y, GLsizei width, GLsizei height, GLenum format, GLenum type,
                  void* pixels)
{
    pipeline().flush();
    ::glReadPixels(x, y, width, height, format, type, pixels);
}

void glFlush()
{
    pipeline().flush();
    ::glFlush();
}

void glFinish()
{
    pipeline().flush();
    ::glFinish();
}

} // namespace Spectrafox
