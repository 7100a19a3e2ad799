/* Global names a program may well use for itself, which the player also
 * uses inside; the static library must link beside them and leave them
 * alone. */
int channels = 7, voices = 7, mixRate = 7, mixOutput = 7, rampFrames = 7;
float invMixRate = 7, rampScale = 7;
int emptyInstrument = 7, emptySample = 7;
int xmAmigaBase = 7, xmAutoVibratoSine = 7, xmPow2Table = 7, xmVibratoSine = 7;
int mixPortableKernels = 7, mixScalarKernels = 7, mixSse2Kernels = 7, mixAvx2Kernels = 7, mixAvx512Kernels = 7;

int own_names_untouched(void) {
  return channels == 7 && voices == 7 && mixRate == 7 && mixOutput == 7 && rampFrames == 7 &&
         invMixRate == 7 && rampScale == 7 && emptyInstrument == 7 && emptySample == 7;
}
