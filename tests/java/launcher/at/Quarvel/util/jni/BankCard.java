package at.Quarvel.util.jni;

/** Stand-in: the bank card type. */
public class BankCard extends SCard {
    public BankCard() {}

    public native int unblockPIN(int pin, byte[] puk);
    public native boolean isACOS04();
}
