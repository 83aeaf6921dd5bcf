package at.Quarvel.util.jni;

/** Stand-in: a card type whose PIN is unblocked with a PUK. */
public class ECardG4 extends SCard {
    public ECardG4() {}

    public native int unblockPIN(int pin, byte[] puk, byte[] newPin);
}
