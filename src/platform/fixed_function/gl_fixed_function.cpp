#include "platform/fixed_function/gl_fixed_function.h"

#include "platform/fixed_function/fixed_function_pipeline.h"

namespace Spectrafox {

namespace {

FixedFunctionPipeline& pipeline()
{
    return FixedFunctionPipeline::instance();
}

// The vertex attribute that serves a client array; false for other names.
bool attributeFor(GLenum array, GLuint* attribute)
{
    switch (array) {
    case GL_VERTEX_ARRAY: *attribute = FixedFunctionPipeline::kPositionAttribute; return true;
    case GL_COLOR_ARRAY: *attribute = FixedFunctionPipeline::kColorAttribute; return true;
    case GL_TEXTURE_COORD_ARRAY: *attribute = FixedFunctionPipeline::kTexCoordAttribute; return true;
    default: return false;
    }
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

void glEnableClientState(GLenum array)
{
    GLuint attribute = 0;
    if (attributeFor(array, &attribute))
        ::glEnableVertexAttribArray(attribute);
}

void glDisableClientState(GLenum array)
{
    GLuint attribute = 0;
    if (attributeFor(array, &attribute))
        ::glDisableVertexAttribArray(attribute);
}

void glVertexPointer(GLint size, GLenum type, GLsizei stride, const void* pointer)
{
    ::glVertexAttribPointer(FixedFunctionPipeline::kPositionAttribute, size, type, GL_FALSE, stride,
                            pointer);
}

void glColorPointer(GLint size, GLenum type, GLsizei stride, const void* pointer)
{
    // Byte colours mean 0..255, as in ES 1.1.
    const GLboolean normalized = type == GL_UNSIGNED_BYTE ? GL_TRUE : GL_FALSE;
    ::glVertexAttribPointer(FixedFunctionPipeline::kColorAttribute, size, type, normalized, stride,
                            pointer);
}

void glTexCoordPointer(GLint size, GLenum type, GLsizei stride, const void* pointer)
{
    ::glVertexAttribPointer(FixedFunctionPipeline::kTexCoordAttribute, size, type, GL_FALSE, stride,
                            pointer);
}

void glGetPointerv(GLenum pname, void** params)
{
    GLuint attribute = 0;
    if (attributeFor(arrayOfPointer(pname), &attribute))
        ::glGetVertexAttribPointerv(attribute, GL_VERTEX_ATTRIB_ARRAY_POINTER, params);
}

void glColor4f(GLfloat red, GLfloat green, GLfloat blue, GLfloat alpha)
{
    ::glVertexAttrib4f(FixedFunctionPipeline::kColorAttribute, red, green, blue, alpha);
}

void glEnable(GLenum cap)
{
    if (cap == GL_TEXTURE_2D)
        pipeline().setTexturing(true);
    else
        ::glEnable(cap);
}

void glDisable(GLenum cap)
{
    if (cap == GL_TEXTURE_2D)
        pipeline().setTexturing(false);
    else
        ::glDisable(cap);
}

void glDrawArrays(GLenum mode, GLint first, GLsizei count)
{
    if (pipeline().prepareDraw())
        ::glDrawArrays(mode, first, count);
}

void glShadeModel(GLenum) {}

void glHint(GLenum target, GLenum mode)
{
    if (target != GL_PERSPECTIVE_CORRECTION_HINT)
        ::glHint(target, mode);
}

} // namespace Spectrafox
