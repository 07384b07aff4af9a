// The yardstick for the one-shot commands: a console program that does
// nothing, built like corvel (static, size-optimised, stripped), so that its
// run time is what starting and ending any such program costs under Wine.
int wmain()
{
    return 0;
}
