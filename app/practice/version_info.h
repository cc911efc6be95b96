// The version data the build embeds in the program file, where GetVersionInfo finds it.
#ifndef RIVENOAK_APP_PRACTICE_VERSION_INFO_H_
#define RIVENOAK_APP_PRACTICE_VERSION_INFO_H_

namespace app {

// "0.1.0": the product version of this build.
const char* ProductVersion();

}  // namespace app

#endif  // RIVENOAK_APP_PRACTICE_VERSION_INFO_H_
