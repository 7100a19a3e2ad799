#include "shell/gl_entry_points.h"

#include <cstring>

#include "platform/platform.h"

const char kGlEntryPointNames[] =
    "glActiveTextureARB\0"
    "glClientActiveTextureARB\0"
    "glMultiTexCoord4fvARB\0"
    "glDeleteProgramsARB\0"
    "glBindProgramARB\0"
    "glProgramStringARB\0"
    "glProgramLocalParameter4fvARB\0"
    "glProgramEnvParameter4fvARB\0"
    "glTexImage3D\0"
    "glBindBufferARB\0"
    "glBufferDataARB\0"
    "glBufferSubDataARB\0"
    "glDeleteBuffersARB\0"
    "glCreateProgram\0"
    "glCreateShader\0"
    "glShaderSource\0"
    "glCompileShader\0"
    "glAttachShader\0"
    "glLinkProgram\0"
    "glUseProgram\0"
    "glUniform4fv\0"
    "glUniform1i\0"
    "glGetUniformLocationARB\0"
    "glGetObjectParameterivARB\0"
    "glGetInfoLogARB\0"
    "glLoadTransposeMatrixf\0"
    "glBindRenderbufferEXT\0"
    "glDeleteRenderbuffersEXT\0"
    "glRenderbufferStorageEXT\0"
    "glBindFramebufferEXT\0"
    "glDeleteFramebuffersEXT\0"
    "glCheckFramebufferStatusEXT\0"
    "glFramebufferTexture1DEXT\0"
    "glFramebufferTexture2DEXT\0"
    "glFramebufferTexture3DEXT\0"
    "glFramebufferRenderbufferEXT\0"
    "glGenerateMipmapEXT\0";

int load_gl_entry_points() {
  const char* name = kGlEntryPointNames;
  // Nothing calls through the addresses: the check is what start-up needs.
  for (int i = 0; i < kGlEntryPointCount; ++i) {
    if (!platform::gl_proc_address(name)) return 0;
    name += std::strlen(name) + 1;
  }
  return 1;
}
