// MERVOWow64Probe: ends with exit code 42 and does nothing else. Its i686
// build tells whether this machine can start a 32-bit Windows program in the
// WoW64 root at all; its x86_64 build, started the same way, shows that the
// root and its Wine work. scripts/wow64-probe.sh starts both and expects 42.
int main()
{
    return 42;
}
