package at.Quarvel.util.jni;

/** Stand-in: a card type whose PIN is unblocked with a PUK. */
public class ECardng extends SCard {
    public ECardng() {}

    public native int unblockPIN(int pin, byte[] puk, byte[] newPin);
}
