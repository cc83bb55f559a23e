/* A mail-server library that lacks one of the six names (PARTIAL_API_OMIT_<n>,
 * n = 1..6 in ABI order); the ones it has describe an empty mail server. */

#define PARTIAL_EXPORT __attribute__((visibility("default")))

#ifndef PARTIAL_API_OMIT_1
PARTIAL_EXPORT int Init(const char *dir) { (void)dir; return 0; }
#endif
#ifndef PARTIAL_API_OMIT_2
PARTIAL_EXPORT int GetDomainCount(void) { return 0; }
#endif
#ifndef PARTIAL_API_OMIT_3
PARTIAL_EXPORT int GetDomainName(int domain, char *buf, int bufSize) { (void)domain; (void)buf; (void)bufSize; return 0; }
#endif
#ifndef PARTIAL_API_OMIT_4
PARTIAL_EXPORT int GetUserCount(const char *domain) { (void)domain; return 0; }
#endif
#ifndef PARTIAL_API_OMIT_5
PARTIAL_EXPORT int LoadUser(const char *domain, int user, void *rec, int recSize)
{
    (void)domain; (void)user; (void)rec; (void)recSize;
    return 0;
}
#endif
#ifndef PARTIAL_API_OMIT_6
PARTIAL_EXPORT int GetUserSetting(void *rec, int recSize, int setting, void *buf, int bufSize)
{
    (void)rec; (void)recSize; (void)setting; (void)buf; (void)bufSize;
    return 0;
}
#endif
