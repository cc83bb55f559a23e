/* A mail-server library with no domains, for benchmarks: the directory then
 * comes from the external LDIF file alone.
 *   cc -O2 -fPIC -shared -o API.so bench/empty_api.c */
int Init(const char *programDir) { return programDir ? 0 : 1; }
int GetDomainCount(void) { return 0; }
int GetDomainName(int domain, char *buf, int bufSize) { (void)domain; (void)buf; (void)bufSize; return 0; }
int GetUserCount(const char *domain) { (void)domain; return 0; }
int LoadUser(const char *domain, int user, void *rec, int recSize)
{
    (void)domain; (void)user; (void)rec; (void)recSize;
    return 0;
}
int GetUserSetting(void *rec, int recSize, int setting, void *buf, int bufSize)
{
    (void)rec; (void)recSize; (void)setting; (void)buf; (void)bufSize;
    return 0;
}
