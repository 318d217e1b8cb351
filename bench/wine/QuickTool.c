/* Stands in for the companion tool in the whole-run measurement: a console
   program that ends at once, so that the run's time is the stager's own. */
int main(void)
{
    return 0;
}
