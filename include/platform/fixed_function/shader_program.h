#pragma once

#include <GLES2/gl2.h>

#include <string>
#include <utility>
#include <vector>

namespace Spectrafox {

// The vertex attributes a program's inputs are bound to before it links.
using AttributeBindings = std::vector<std::pair<GLuint, const char*>>;

// Compiles both shaders and links them into a program, the fragment shader
// after the precision statement every ES 2.0 fragment shader needs (and
// after `fragment_extension`, an #extension line, which must come first).
// 0, with the compiler's or linker's words in *error, when either fails;
// nothing is left behind then.
GLuint buildShaderProgram(const char* vertex_source, const char* fragment_source, const AttributeBindings& attributes,
                          std::string* error, const char* fragment_extension = "");

} // namespace Spectrafox
