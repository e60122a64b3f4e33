// Linked with every object of one layer and only what that layer may reach;
// it does nothing, it only has to link.
int main()
{
    return 0;
}
