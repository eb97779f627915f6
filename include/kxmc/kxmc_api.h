/* Export macro of the library's C interface. */
#ifndef KXMC_API_H
#define KXMC_API_H

#if defined(_WIN32)
#define KXMC_API
#elif defined(__GNUC__)
#define KXMC_API __attribute__((visibility("default")))
#else
#define KXMC_API
#endif

#endif /* KXMC_API_H */
