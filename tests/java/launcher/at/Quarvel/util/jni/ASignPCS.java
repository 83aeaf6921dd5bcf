package at.Quarvel.util.jni;

/** Stand-in: a card type whose PIN is unblocked with a PUK. */
public class ASignPCS extends SCard {
    public ASignPCS() {}

    public native int unblockPIN(int pin, byte[] puk, byte[] newPin);
}
